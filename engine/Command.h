#pragma once

#include <cstddef>
#include <string>
#include <string_view>
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

// True for the characters that separate words: blank, tab, LF, VT, FF, CR,
// as formatted string extraction splits.
constexpr bool isWordSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Walks the white-space separated words of a text without copying them.
class WordScanner {
public:
    explicit WordScanner(std::string_view text) : text(text) {}

    // Moves to the next word; false when the text has no more words.
    bool next()
    {
        std::size_t pos = start + length;
        while (pos < text.size() && isWordSpace(text[pos])) {
            ++pos;
        }
        start = pos;
        while (pos < text.size() && !isWordSpace(text[pos])) {
            ++pos;
        }
        length = pos - start;
        return length > 0;
    }
    std::string_view word() const { return text.substr(start, length); }
    // Where the current word starts in the text.
    std::size_t position() const { return start; }

private:
    std::string_view text;
    std::size_t start = 0;
    std::size_t length = 0;
};

// Appends the white-space separated words of text to words.
void splitWords(std::string_view text, std::vector<std::string>& words);
