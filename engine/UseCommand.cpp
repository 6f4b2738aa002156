#include "UseCommand.h"

#include <algorithm>
#include <string_view>

#include "AbstractGame.h"

namespace {

bool isSeparator(std::string_view word) { return word == "into" || word == "in" || word == "on" || word == "to"; }

// The words from first up to, not including, last, joined by single blanks.
std::string joinWords(const std::vector<std::string>& words, std::size_t first, std::size_t last)
{
    std::string joined;
    for (std::size_t i = first; i < last; ++i) {
        if (i > first) {
            joined += ' ';
        }
        joined += words[i];
    }
    return joined;
}

} // namespace

std::vector<std::string> UseCommand::getRecognizedCommands() { return {"use", "apply", "give", "put", "place"}; }

int UseCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    const std::vector<std::string>& words = command.args();
    if (words.empty()) {
        game.say("Huh?");
        return 0;
    }
    // The first separator splits tool from target; without one the last word
    // is dropped, which leaves the target empty.
    const auto separator =
        std::find_if(words.begin(), words.end(), [](const std::string& word) { return isSeparator(word); });
    const std::size_t split =
        separator == words.end() ? words.size() - 1 : static_cast<std::size_t>(separator - words.begin());
    const std::string target = joinWords(words, split + 1, words.size());
    if (split == 0 || target.empty()) {
        game.say("What do you want to use it on?");
        return 0;
    }
    const std::string tool = joinWords(words, 0, split);
    Item* toolItem = game.getInventoryItem(tool);
    Item* targetItem = game.getInventoryItem(target);
    if (targetItem == nullptr) {
        targetItem = game.getCurrentRoom()->getItem(target);
    }
    game.combineItems(targetItem, toolItem);
    return 0;
}
