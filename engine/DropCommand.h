#pragma once

#include "AbstractCommand.h"

// Puts a carried item down in the current room.
class DropCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
