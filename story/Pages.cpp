#include "Pages.h"

#include <charconv>
#include <system_error>

#include "WordScanner.h"

std::deque<Page> pages;

const std::string stddelimiter = " ";

namespace {

// A number word as a decimal conversion reads it: leading white space, an
// optional sign, then digits up to the first non-digit ("12abc" is 12).
struct NumberWord {
    bool negative = false;
    std::string_view digits; // from the first digit on; empty if there is none
};

NumberWord splitNumberWord(std::string_view word)
{
    std::size_t at = 0;
    while (at < word.size() && isWordSpace(word[at])) {
        ++at;
    }
    NumberWord split;
    if (at < word.size() && (word[at] == '+' || word[at] == '-')) {
        split.negative = word[at] == '-';
        ++at;
    }
    if (at < word.size() && isDigit(word[at])) {
        split.digits = word.substr(at);
    }
    return split;
}

// Reads the leading digits of digits; empty if the value does not fit.
template <typename Number>
std::optional<Number> readDigits(std::string_view digits)
{
    Number value{};
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string NrToString(unsigned long long value) { return std::to_string(value); }

std::optional<unsigned long long> readPageNumber(std::string_view word)
{
    const NumberWord split = splitNumberWord(word);
    if (split.negative || split.digits.empty()) {
        return std::nullopt;
    }
    return readDigits<unsigned long long>(split.digits);
}

std::optional<long long> readPosition(std::string_view word)
{
    const NumberWord split = splitNumberWord(word);
    if (split.digits.empty()) {
        return std::nullopt;
    }
    // Read with its sign, so that the most negative value fits too.
    const std::string_view signedDigits =
        split.negative ? std::string_view(split.digits.data() - 1, split.digits.size() + 1) : split.digits;
    return readDigits<long long>(signedDigits);
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
