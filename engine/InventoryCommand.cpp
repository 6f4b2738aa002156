#include "InventoryCommand.h"

#include "AbstractGame.h"

std::vector<std::string> InventoryCommand::getRecognizedCommands() { return {"inventory", "i"}; }

int InventoryCommand::execute(Command /*command*/)
{
    AbstractGame::instance->printInverntory();
    return 0;
}
