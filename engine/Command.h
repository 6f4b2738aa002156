#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "WordScanner.h"

// One parsed player command: the word that selected the handler, the text
// that followed it exactly as the parser cut it, and that text split into
// white-space separated words. The words are split off the text when first
// asked for: most handlers read a word or two, and a line of millions of
// words should not cost millions of strings for them.
class Command {
public:
    Command(std::string commandWord, std::string argsString);

    const std::string& getCommandWord() const { return word; }
    // The text after the command word, as the parser cut it.
    const std::string& getArgsstring() const { return text; }
    // The words of that text.
    const std::vector<std::string>& getArgs() const;
    // The word at index, or "" past the last word; never fails.
    std::string getArg(unsigned int index) const;

private:
    std::string word;
    mutable std::vector<std::string> words;
    std::string text;
    mutable bool split = false;
};

// Appends the white-space separated words of text to words.
void splitWords(std::string_view text, std::vector<std::string>& words);
