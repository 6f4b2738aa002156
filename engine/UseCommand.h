#pragma once

#include "AbstractCommand.h"

// Uses one item on another: "use key on door"; the story decides what happens.
class UseCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
