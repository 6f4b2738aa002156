#pragma once

#include "AbstractCommand.h"

// Writes on a page of the big old book and tears it out.
class WriteCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
