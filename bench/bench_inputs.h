#pragma once

// Inputs for the performance measurements: the player's scripts and page
// files of realistic records. The in-process benchmarks and the
// whole-process script use the same generators, so both measure the same
// work.

#include <cstdint>
#include <string>

namespace bench {

// The name typed at the prompt, and the walk from "Your Room" to the library.
std::string walkToLibrary();

// A game that walks and looks around: the name, then `commands` commands of
// a round trip through the town that returns to the start room every 22
// commands (about one command in five is "look").
std::string sessionScript(std::uint64_t commands);

// A game that takes the book in the library and writes `pages` pages, the
// page numbers firstNumber, firstNumber + 1, ..., each with a short text.
std::string writeScript(std::uint64_t pages, std::uint64_t firstNumber = 1);

// writeScript followed by hiding every page, one "hide page 1" at a time.
std::string hideScript(std::uint64_t pages, std::uint64_t firstNumber);

// The walk to the library, then "search" with the key (bare "search" when
// the key is empty: the listing).
std::string searchScript(const std::string& key);

// The text of one page: words of a fixed vocabulary, each followed by one
// blank, at least `bytes` long.
std::string pageText(std::uint64_t bytes, std::uint64_t seed);

struct PageFileInfo {
    std::uint64_t bytes = 0;
    std::uint64_t records = 0;
    std::string presentKey; // number of the last record, found nowhere before it
    std::string absentKey;  // a number that no record carries
};

// Writes a page file of at least `bytes` bytes to path: two-line records, a
// random page number and a text of 1 KiB to 64 KiB. The same seed gives the
// same file. Throws std::runtime_error when the file cannot be written.
PageFileInfo makePageFile(const std::string& path, std::uint64_t bytes, std::uint64_t seed);

} // namespace bench
