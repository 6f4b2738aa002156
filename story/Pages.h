#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

// The torn-out pages of the big old book, held in memory until they are
// hidden in the page file.

// One torn-out page.
struct Page {
    unsigned long long number; // the page number, as the page file records it
    std::string numberWord;    // the page-number word exactly as the player typed it ("007", "+5")
    std::string text;          // the page text: its words, each followed by stddelimiter
};

// The pages written and not yet hidden, oldest first. A page's position is
// its 1-based place in this list. The write command's constructor empties it,
// a write appends one page, a hide removes pages. A deque, so that hiding
// the first page again and again costs the same each time.
extern std::deque<Page> pages;

// Written after every word of a page text.
extern const std::string stddelimiter;

// Whether byte is one of the digits page numbers are written in, '0' to '9'.
constexpr bool isDigit(int byte) { return byte >= '0' && byte <= '9'; }

// The decimal digits of value: no sign, no leading zeros.
std::string NrToString(unsigned long long value);

// Reads a page number the way an unsigned decimal conversion does: leading
// white space, an optional '+', then digits up to the first non-digit
// ("12abc" is 12). Empty when no digit can be read, when the value does not
// fit in 64 bits, and when the word carries a '-' sign: a negative page
// number is no page number, rather than one that wraps around.
std::optional<unsigned long long> readPageNumber(std::string_view word);

// Reads a page position the way a signed 64-bit decimal conversion does:
// leading white space, an optional sign, digits up to the first non-digit.
// Empty when no digit can be read or the value does not fit.
std::optional<long long> readPosition(std::string_view word);

// The page text made of the white-space separated words of words, each
// followed by stddelimiter.
std::string pageText(std::string_view words);

// Appends the block that shows page in the page item's details: a line end,
// the header with the page-number word as typed, an empty line, then the
// text in double quotes after a tab.
void appendPageBlock(std::string& details, const Page& page);

// The page item's details for the given pages: their blocks, oldest first.
std::string pageDetails(const std::deque<Page>& held);

// The page item's name when count pages are held.
std::string pageItemName(std::size_t count);
