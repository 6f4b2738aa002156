// Writes the inputs of the whole-process measurements to standard output
// (scripts) or to a file (page files); run by bench/run.sh.
//
//   make_input session COMMANDS
//   make_input write PAGES
//   make_input hide PAGES FIRST_NUMBER
//   make_input walk
//   make_input search [KEY]
//   make_input pagefile PATH BYTES SEED   (prints: records bytes present-key absent-key)

#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "bench_inputs.h"

namespace {

std::uint64_t number(const char* text) { return std::stoull(text); }

int usage()
{
    std::cerr << "usage: make_input session N | write N | hide N FIRST | walk | search [KEY] | "
                 "pagefile PATH BYTES SEED\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return usage();
    }
    const std::string_view what = argv[1];
    try {
        if (what == "session" && argc == 3) {
            std::cout << bench::sessionScript(number(argv[2]));
        } else if (what == "write" && argc == 3) {
            std::cout << bench::writeScript(number(argv[2]));
        } else if (what == "hide" && argc == 4) {
            std::cout << bench::hideScript(number(argv[2]), number(argv[3]));
        } else if (what == "walk" && argc == 2) {
            std::cout << bench::walkToLibrary();
        } else if (what == "search" && (argc == 2 || argc == 3)) {
            std::cout << bench::searchScript(argc == 3 ? argv[2] : "");
        } else if (what == "pagefile" && argc == 5) {
            const bench::PageFileInfo info = bench::makePageFile(argv[2], number(argv[3]), number(argv[4]));
            std::cout << info.records << ' ' << info.bytes << ' ' << info.presentKey << ' ' << info.absentKey << '\n';
        } else {
            return usage();
        }
    } catch (const std::exception& error) {
        std::cerr << "make_input: " << error.what() << '\n';
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
