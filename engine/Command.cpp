#include "Command.h"

#include <utility>

void splitWords(const std::string& text, std::vector<std::string>& words)
{
    const std::size_t size = text.size();
    std::size_t pos = 0;
    while (pos < size) {
        while (pos < size && isWordSpace(text[pos])) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < size && !isWordSpace(text[pos])) {
            ++pos;
        }
        if (pos > start) {
            words.emplace_back(text, start, pos - start);
        }
    }
}

Command::Command(std::string commandWord, std::string argsString)
    : word(std::move(commandWord)), text(std::move(argsString))
{
}

const std::vector<std::string>& Command::args() const
{
    if (!split) {
        splitWords(text, words);
        split = true;
    }
    return words;
}

std::string Command::getCommandWord() const { return word; }

std::string Command::getArgsstring() const { return text; }

std::vector<std::string> Command::getArgs() const { return args(); }

std::string Command::getArg(unsigned int index) const
{
    if (split) {
        return index < words.size() ? words[index] : std::string();
    }
    // Walks only as far as the word asked for.
    const std::size_t size = text.size();
    std::size_t pos = 0;
    for (unsigned int seen = 0;; ++seen) {
        while (pos < size && isWordSpace(text[pos])) {
            ++pos;
        }
        if (pos == size) {
            return {};
        }
        const std::size_t start = pos;
        while (pos < size && !isWordSpace(text[pos])) {
            ++pos;
        }
        if (seen == index) {
            return text.substr(start, pos - start);
        }
    }
}
