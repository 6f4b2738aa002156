#include "ExecuteCommand.h"

#include <ostream>

#include "AbstractGame.h"
#include "Example.h"
#include "WorldNames.h"

std::vector<std::string> ExecuteCommand::getRecognizedCommands() { return {"kill", "execute"}; }

int ExecuteCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    const std::string target = command.getArg(0);
    if (target.empty()) {
        game.say("kill what?");
    } else if (target == "gf" || target == "girlfriend") {
        Item* girlfriend = game.getInventoryItem(keywords::girlfriend);
        if (girlfriend != nullptr) {
            game.removeInventoryItem(girlfriend, true);
            game.say("You shoot your girlfriend and she falls to the ground. Well, at least the shoe shopping is off "
                     "for good.");
        }
    } else if (target == "me" || target == "myself" || target == "I") {
        if (command.getCommandWord() == "kill") {
            // The game is over on the spot: no word more, no further prompt.
            game.quit();
        } else {
            game.output() << "You hold the gun to your own head, then remember that it is the weekend. Not "
                             "today, "
                          << name << ".\n";
        }
    }
    return 0;
}
