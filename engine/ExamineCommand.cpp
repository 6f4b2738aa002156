#include "ExamineCommand.h"

#include <ostream>

#include "AbstractGame.h"

std::vector<std::string> ExamineCommand::getRecognizedCommands() { return {"examine", "look"}; }

int ExamineCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    const std::string& name = command.getArgsstring();
    const Item* item = game.findItemHereOrCarried(name);
    if (item == nullptr) {
        // Nothing by that name (or no name at all): look around instead.
        game.printCurrentRoom(true);
    } else if (item->getType() == ItemType::READABLE) {
        game.output() << "It reads: \n\n" << item->examine() << '\n';
    } else {
        game.say(item->examine());
    }
    return 0;
}
