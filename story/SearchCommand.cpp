#include "SearchCommand.h"

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <string_view>

#include "AbstractGame.h"
#include "Example.h"
#include "HideCommand.h"
#include "PageFile.h"

bool debugmodeon = true;

namespace {

const char* const nothingFound = "There is nothing to find.";

bool isControlByte(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Prints a text from the page file with each control byte shown as '?'.
// Another player wrote it: escape sequences, bells or NUL bytes in it must
// not clear, recolour or retitle this player's terminal. Every other byte is
// shown as stored.
void printSafely(std::ostream& out, std::string_view text)
{
    while (!text.empty()) {
        const auto control = std::find_if(text.begin(), text.end(), isControlByte);
        const auto clean = static_cast<std::size_t>(control - text.begin());
        out.write(text.data(), static_cast<std::streamsize>(clean));
        if (control == text.end()) {
            return;
        }
        out.put('?');
        text.remove_prefix(clean + 1);
    }
}

// The lookout, its answer and an empty line.
void lookOutForSearch(AbstractGame& game)
{
    lookOut(game);
    game.say("Nobody there");
    game.say("");
}

} // namespace

std::vector<std::string> SearchCommand::getRecognizedCommands() { return {"search"}; }

int SearchCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    if (game.getCurrentRoom()->shortDescription() != "Old mysterious Library") {
        game.say("This does not look like a place where someone would hide anything");
        return 0;
    }
    std::ostream& out = game.output();
    const PageFile file(Example::current().pageFilePath());
    // Texts go to the player as they are read, never held whole.
    const PageFile::TextPiece print = [&out](std::string_view piece) { printSafely(out, piece); };

    const std::string key = command.getArg(0);
    if (key.empty()) {
        game.say("Where do you want to search something?");
        if (!debugmodeon) {
            return 0;
        }
        lookOutForSearch(game);
        file.listTexts(print, [&out] { out << "\n\n"; });
        return 0;
    }

    lookOutForSearch(game);
    switch (file.findText(key, print)) {
    case PageFile::Lookup::Found:
        out << "\n\n";
        break;
    case PageFile::Lookup::NotFound:
        out << nothingFound << "\n\n";
        break;
    case PageFile::Lookup::CannotOpen:
        out << nothingFound << '\n';
        break;
    }
    return 0;
}
