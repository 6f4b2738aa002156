#pragma once

#include "AbstractCommand.h"

// Kill or execute: unlocked by carrying the pistol.
class ExecuteCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
