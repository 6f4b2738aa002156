#pragma once

#include "AbstractCommand.h"

// Shows an item's details, or the current room in full when no item is named.
class ExamineCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
