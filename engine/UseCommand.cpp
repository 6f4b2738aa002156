#include "UseCommand.h"

#include <string_view>

#include "AbstractGame.h"
#include "WordScanner.h"

namespace {

bool isSeparator(std::string_view word) { return word == "into" || word == "in" || word == "on" || word == "to"; }

// Appends word to text, after a blank unless text is empty.
void appendWord(std::string& text, std::string_view word)
{
    if (!text.empty()) {
        text += ' ';
    }
    text += word;
}

} // namespace

std::vector<std::string> UseCommand::getRecognizedCommands() { return {"use", "apply", "give", "put", "place"}; }

int UseCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    WordScanner scanner(command.getArgsstring());
    if (!scanner.next()) {
        game.say("Huh?");
        return 0;
    }
    // The first separator splits tool from target, each joined by single
    // blanks; later separators are part of the target. Without a separator
    // there is no target.
    std::string tool;
    std::string target;
    bool separated = false;
    do {
        const std::string_view word = scanner.word();
        if (!separated && isSeparator(word)) {
            separated = true;
        } else {
            appendWord(separated ? target : tool, word);
        }
    } while (scanner.next());
    if (tool.empty() || target.empty()) {
        game.say("What do you want to use it on?");
        return 0;
    }
    Item* toolItem = game.getInventoryItem(tool);
    Item* targetItem = game.getInventoryItem(target);
    if (targetItem == nullptr) {
        targetItem = game.getCurrentRoom()->getItem(target);
    }
    game.combineItems(targetItem, toolItem);
    return 0;
}
