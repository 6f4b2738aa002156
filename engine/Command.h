#pragma once

#include <string>
#include <vector>

// One parsed player command: the word that selected the handler, the text
// that followed it exactly as the parser cut it, and that text split into
// white-space separated words. The words are split off the text when first
// asked for: most handlers read a word or two, and a line of millions of
// words should not cost millions of strings for them.
class Command {
public:
    Command(std::string commandWord, std::string argsString);

    std::string getCommandWord() const;
    std::string getArgsstring() const;
    std::vector<std::string> getArgs() const;
    // The word at index, or "" past the last word; never fails.
    std::string getArg(unsigned int index) const;

    // Borrowing accessors for handlers that only look at the text.
    const std::string& commandWord() const { return word; }
    const std::string& argsString() const { return text; }
    const std::vector<std::string>& args() const;

private:
    std::string word;
    mutable std::vector<std::string> words;
    std::string text;
    mutable bool split = false;
};

// Appends the white-space separated words of text to words, splitting as
// formatted string extraction does (blank, tab, LF, VT, FF and CR separate).
void splitWords(const std::string& text, std::vector<std::string>& words);

// True for the characters that separate words.
constexpr bool isWordSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
