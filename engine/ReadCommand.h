#pragma once

#include "AbstractCommand.h"

// Reads out the text of a readable item.
class ReadCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
