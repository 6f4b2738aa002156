#pragma once

#include <cstddef>
#include <string_view>

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
