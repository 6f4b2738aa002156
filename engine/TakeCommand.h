#pragma once

#include "AbstractCommand.h"

// Takes an item from the current room into the inventory.
class TakeCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
