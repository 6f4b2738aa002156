#include "DropCommand.h"

#include <ostream>

#include "AbstractGame.h"

std::vector<std::string> DropCommand::getRecognizedCommands() { return {"drop"}; }

int DropCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    Item* item = game.getInventoryItem(command.getArgsstring());
    if (item == nullptr) {
        game.say("Could not drop the item");
    } else if (game.removeInventoryItem(item, false)) {
        // Repeats the player's words, not the item's name.
        game.output() << "Dropped the " << command.getArgsstring() << '\n';
    } else {
        game.say("I would keep that if I were you");
    }
    return 0;
}
