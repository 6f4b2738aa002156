#include "HelpCommand.h"

#include "AbstractGame.h"

std::vector<std::string> HelpCommand::getRecognizedCommands() { return {"help", "h"}; }

int HelpCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    // Any word after "help" asks for the detailed list.
    if (command.getArg(0).empty()) {
        game.say("<help more> for more detailed help");
        game.printHelp(true);
    } else {
        game.printHelp(false);
    }
    return 0;
}
