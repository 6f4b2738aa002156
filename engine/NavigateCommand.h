#pragma once

#include "AbstractCommand.h"

// Moves the player along an exit of the current room: the eight compass words and their short forms.
class NavigateCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
