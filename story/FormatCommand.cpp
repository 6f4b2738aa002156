#include "FormatCommand.h"

#include <ostream>
#include <string_view>

#include "AbstractGame.h"
#include "WorldNames.h"

bool hadRevenge = false;

namespace {

// A drive name such as "c:": two characters, the second a colon.
bool isDriveName(std::string_view word) { return word.size() == 2 && word[1] == ':'; }

} // namespace

std::vector<std::string> FormatCommand::getRecognizedCommands() { return {"format"}; }

int FormatCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    std::ostream& out = game.output();
    const std::string& room = game.getCurrentRoom()->shortDescription();
    if (room != rooms::worstEnemysHouse) {
        if (room == rooms::yourRoom) {
            game.say("Really? Format your pc? just because its windows installed on it? Leave windows alone!");
        } else {
            out << "There need to be a computer arround to test this";
        }
        return 0;
    }
    const std::string drive = command.getArg(0);
    if (drive.empty()) {
        game.say("Required parameter missing -");
    } else if (isDriveName(drive)) {
        out << "The screen says : \n"
            << "WARNING, ALL DATA ON NON-REMOVABLE DISK\n"
            << "DRIVE " << drive << " WILL BE LOST!\n"
            << "Proceed with Format (Y/N)?";
        // End of input counts as a refusal.
        std::string answer;
        if (game.readLine(answer) && (answer == "Y" || answer == "y")) {
            out << "Checking existing disk format.\n"
                << "Recording current bad clusters\n"
                << "Verifying 546,047.46M\n"
                << "Format complete.\n"
                << "Writing out file allocation table\n"
                << "Complete.\n"
                << "Calculating free space (this may take several minutes)...\n"
                << "Complete.\n"
                << "HAHAHAA you got your Revenge\n";
            hadRevenge = true;
        }
        out << '\n';
    } else {
        out << '\'' << drive
            << "' is not recognized as an internal or external command, operable program or batch file.";
    }
    return 0;
}
