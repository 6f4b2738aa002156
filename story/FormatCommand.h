#pragma once

#include "AbstractCommand.h"

// Formats a drive on the computer in the worst enemy's house: the revenge.
class FormatCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};

// Set once the enemy's drive was formatted; the story's ending needs it.
extern bool hadRevenge;
