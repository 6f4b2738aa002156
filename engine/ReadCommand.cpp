#include "ReadCommand.h"

#include <ostream>

#include "AbstractGame.h"

std::vector<std::string> ReadCommand::getRecognizedCommands() { return {"read", "r"}; }

int ReadCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    const std::string& name = command.getArgsstring();
    const Item* item = game.findItemHereOrCarried(name);
    if (item == nullptr) {
        game.say(name.empty() ? "Read what?" : "There's nothing to read here");
    } else if (item->getType() == ItemType::READABLE) {
        game.output() << "\n\"" << item->examine() << "\"\n\n";
    } else {
        game.say("Nothing happened");
    }
    return 0;
}
