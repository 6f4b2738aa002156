#include "SourceStrings.h"

#include <cctype>
#include <stdexcept>

namespace support {

namespace {

class Scanner {
public:
    explicit Scanner(std::string_view text) : source(text) {}

    std::vector<SourceString> literals()
    {
        std::vector<SourceString> found;
        while (at < source.size()) {
            if (skipSpaceAndComments()) {
                continue;
            }
            const char c = source[at];
            if (c == '#' && atLineStart()) {
                skipLine(); // #include "..." and the like
            } else if (c == '\'') {
                quoted('\'');
            } else if (c == '"') {
                SourceString literal{"", line};
                // Adjacent literals are one string.
                do {
                    literal.text += quoted('"');
                } while (!skipSpaceAndCommentsThenQuote());
                found.push_back(std::move(literal));
            } else {
                advance();
            }
        }
        return found;
    }

private:
    void advance()
    {
        if (source[at++] == '\n') {
            ++line;
        }
    }

    bool atLineStart() const
    {
        std::size_t back = at;
        while (back > 0 && (source[back - 1] == ' ' || source[back - 1] == '\t')) {
            --back;
        }
        return back == 0 || source[back - 1] == '\n';
    }

    void skipLine()
    {
        while (at < source.size() && source[at] != '\n') {
            // A line ending in a backslash goes on.
            if (source[at] == '\\' && at + 1 < source.size() && source[at + 1] == '\n') {
                advance();
            }
            advance();
        }
    }

    // Skips one stretch of blanks or one comment; false if there was none.
    bool skipSpaceAndComments()
    {
        if (std::isspace(static_cast<unsigned char>(source[at])) != 0) {
            advance();
            return true;
        }
        if (source.substr(at, 2) == "//") {
            skipLine();
            return true;
        }
        if (source.substr(at, 2) == "/*") {
            const std::size_t end = source.find("*/", at + 2);
            const std::size_t stop = end == std::string_view::npos ? source.size() : end + 2;
            while (at < stop) {
                advance();
            }
            return true;
        }
        return false;
    }

    // Skips blanks and comments; false if a string literal follows them.
    bool skipSpaceAndCommentsThenQuote()
    {
        while (at < source.size() && skipSpaceAndComments()) {
        }
        return at >= source.size() || source[at] != '"';
    }

    // Reads a quoted literal starting at its opening quote; returns its bytes.
    std::string quoted(char quote)
    {
        std::string bytes;
        advance();
        while (at < source.size() && source[at] != quote) {
            if (source[at] == '\n') {
                throw std::runtime_error("line " + std::to_string(line) + ": unterminated literal");
            }
            if (source[at] != '\\') {
                bytes += source[at];
                advance();
                continue;
            }
            advance();
            bytes += escaped();
        }
        advance();
        return bytes;
    }

    // The character of an escape sequence whose backslash was just read.
    char escaped()
    {
        const char c = source[at];
        advance();
        switch (c) {
        case 'n':
            return '\n';
        case 't':
            return '\t';
        case 'r':
            return '\r';
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        case 'x': {
            int value = 0;
            while (at < source.size() && std::isxdigit(static_cast<unsigned char>(source[at])) != 0) {
                value = value * 16 + std::stoi(std::string(1, source[at]), nullptr, 16);
                advance();
            }
            return static_cast<char>(value);
        }
        default:
            break;
        }
        if (c >= '0' && c <= '7') {
            int value = c - '0';
            for (int digits = 1; digits < 3 && at < source.size() && source[at] >= '0' && source[at] <= '7'; ++digits) {
                value = value * 8 + (source[at] - '0');
                advance();
            }
            return static_cast<char>(value);
        }
        return c; // \\ \" \' \?
    }

    std::string_view source;
    std::size_t at = 0;
    int line = 1;
};

} // namespace

std::vector<SourceString> stringLiterals(std::string_view source) { return Scanner(source).literals(); }

} // namespace support
