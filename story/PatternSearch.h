#pragma once

#include <cstddef>
#include <string_view>

// Finding a short byte pattern in a block of memory: the inner loop of the
// keyed page search, which looks for "\nKEY\n" in blocks of the page file.
//
// Both functions return the offset of the first place in data[0, size)
// where pattern starts, or noMatch. Neither reads outside data.

constexpr std::size_t noMatch = static_cast<std::size_t>(-1);

using PatternFinder = std::size_t (*)(const char* data, std::size_t size, std::string_view pattern);

// Plain C++: memchr for the pattern's first byte, then a compare. Runs
// everywhere; its cost grows with the number of places that byte occurs.
std::size_t findPatternPortable(const char* data, std::size_t size, std::string_view pattern);

#if defined(__SSE2__)
// Thirty-two places at a time: a place is a candidate only if its first two
// and last two bytes equal the pattern's, and only candidates are compared
// whole. For "\nKEY\n" in a page file that leaves few compares per block,
// even where most page numbers have the key's length and first digit. After
// 256 places without the first byte (a long text), memchr jumps to the next.
std::size_t findPatternSse2(const char* data, std::size_t size, std::string_view pattern);
#endif

// The fastest finder this build has; SSE2 is always there on x86-64.
#if defined(__SSE2__)
constexpr PatternFinder fastestPatternFinder = findPatternSse2;
#else
constexpr PatternFinder fastestPatternFinder = findPatternPortable;
#endif
