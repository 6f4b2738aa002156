#pragma once

#include "AbstractCommand.h"

// Lists what the player carries.
class InventoryCommand : public AbstractCommand {
public:
    std::vector<std::string> getRecognizedCommands() override;
    int execute(Command command) override;
};
