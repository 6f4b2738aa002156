#include "Pages.h"

#include <limits>

#include "Command.h"

std::deque<Page> pages;

const std::string stddelimiter = " ";

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips leading white space and reads an optional sign. Returns the place
// of the first character after them; negative tells whether it was '-'.
std::size_t skipToDigits(std::string_view word, bool& negative)
{
    std::size_t at = 0;
    while (at < word.size() && isWordSpace(word[at])) {
        ++at;
    }
    negative = false;
    if (at < word.size() && (word[at] == '+' || word[at] == '-')) {
        negative = word[at] == '-';
        ++at;
    }
    return at;
}

// Reads the digits from at on into a magnitude of at most limit. Empty when
// there is no digit or the magnitude is larger than limit.
std::optional<unsigned long long> readMagnitude(std::string_view word, std::size_t at, unsigned long long limit)
{
    if (at >= word.size() || !isDigit(word[at])) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (; at < word.size() && isDigit(word[at]); ++at) {
        const auto digit = static_cast<unsigned long long>(word[at] - '0');
        if (value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::string NrToString(unsigned long long value) { return std::to_string(value); }

std::optional<unsigned long long> readPageNumber(std::string_view word)
{
    bool negative = false;
    const std::size_t at = skipToDigits(word, negative);
    if (negative) {
        return std::nullopt;
    }
    return readMagnitude(word, at, std::numeric_limits<unsigned long long>::max());
}

std::optional<long long> readPosition(std::string_view word)
{
    bool negative = false;
    const std::size_t at = skipToDigits(word, negative);
    constexpr auto largest = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    // The most negative value has a magnitude one larger than the largest.
    const std::optional<unsigned long long> magnitude = readMagnitude(word, at, negative ? largest + 1 : largest);
    if (!magnitude) {
        return std::nullopt;
    }
    if (!negative) {
        return static_cast<long long>(*magnitude);
    }
    if (*magnitude == largest + 1) {
        return std::numeric_limits<long long>::min();
    }
    return -static_cast<long long>(*magnitude);
}

std::string pageText(std::string_view words)
{
    // Never longer than the words with one more blank: a page text may be
    // as long as the line it comes from, and is built once, at its size.
    std::string text;
    text.reserve(words.size() + stddelimiter.size());
    WordScanner scanner(words);
    while (scanner.next()) {
        text += scanner.word();
        text += stddelimiter;
    }
    return text;
}

void appendPageBlock(std::string& details, const Page& page)
{
    details += "\nThis is page nr. ";
    details += page.numberWord;
    details += " of the big old book and it reads:\n\n\t\"";
    details += page.text;
    details += '"';
}

std::string pageDetails(const std::deque<Page>& held)
{
    std::size_t size = 0;
    for (const Page& page : held) {
        size += page.numberWord.size() + page.text.size() + 64;
    }
    std::string details;
    details.reserve(size);
    for (const Page& page : held) {
        appendPageBlock(details, page);
    }
    return details;
}

std::string pageItemName(std::size_t count) { return NrToString(count) + " page(s) out of the book"; }
