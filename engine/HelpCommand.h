#pragma once

#include "AbstractCommand.h"

// Lists the commands the game understands, short or in detail.
class HelpCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
