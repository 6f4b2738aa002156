#pragma once

// The string literals of C++ sources, as the program would hold them:
// adjacent literals joined, escapes resolved; comments, character literals
// and preprocessor lines skipped. For checking that every text the game can
// print is seen by some test.

#include <string>
#include <string_view>
#include <vector>

namespace support {

struct SourceString {
    std::string text; // the bytes of the literal
    int line = 0;     // where it starts
};

std::vector<SourceString> stringLiterals(std::string_view source);

} // namespace support
