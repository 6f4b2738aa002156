#include "TakeCommand.h"

#include "AbstractGame.h"

std::vector<std::string> TakeCommand::getRecognizedCommands() { return {"take", "t"}; }

int TakeCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    const std::string& name = command.getArgsstring();
    Item* item = game.findItemHereOrCarried(name);
    if (item == nullptr) {
        game.say("There's nothing to take with that name!");
    } else if (!item->canInventory()) {
        game.say("You don't need to take this item.");
    } else {
        // Announces the item itself; silent for an item already carried.
        game.addToInventory(item);
    }
    return 0;
}
