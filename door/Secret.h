#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The secrets that let a player back into a held game: a web page's token
// (26 characters, 130 random bits) and a TCP player's resume code (12
// characters, 60 random bits, short enough to type). Both are written in
// Crockford's base 32, whose digits and capital letters leave out I, L, O
// and U: no two characters look alike.
namespace secret {

constexpr std::size_t tokenLength = 26;
constexpr std::size_t codeLength = 12;

// A new secret of the given number of characters, 5 random bits each, from
// the kernel's random source.
std::string make(std::size_t characters);

// What a player typed, as a secret: capital letters, no dashes or blanks,
// and the look-alikes read as what they stand for (I and L as 1, O as 0).
// Empty if it holds anything else.
std::string normalize(std::string_view typed);

// Whether two secrets are the same; the time taken depends only on their
// lengths, never on where they first differ.
bool same(std::string_view one, std::string_view other);

// A resume code in groups of four, for reading: 7K3M-9Q2X-BD4F.
std::string grouped(std::string_view code);

} // namespace secret
