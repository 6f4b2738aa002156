#include "Command.h"

#include <utility>

void splitWords(std::string_view text, std::vector<std::string>& words)
{
    WordScanner scanner(text);
    while (scanner.next()) {
        words.emplace_back(scanner.word());
    }
}

Command::Command(std::string commandWord, std::string argsString)
    : word(std::move(commandWord)), text(std::move(argsString))
{
}

const std::vector<std::string>& Command::getArgs() const
{
    if (!split) {
        splitWords(text, words);
        split = true;
    }
    return words;
}

std::string Command::getArg(unsigned int index) const
{
    if (split) {
        return index < words.size() ? words[index] : std::string();
    }
    // Walks only as far as the word asked for.
    WordScanner scanner(text);
    for (unsigned int seen = 0; scanner.next(); ++seen) {
        if (seen == index) {
            return std::string(scanner.word());
        }
    }
    return {};
}
