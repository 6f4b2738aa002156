#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// SHA-256 (FIPS 180-4) of a text, for naming a held game's socket after its
// secret without giving the secret away: whoever can list the folder of held
// games learns only a digest, from which the secret cannot be worked out.
std::array<std::uint8_t, 32> sha256(std::string_view data);

// The digest in lower-case hexadecimal, 64 characters.
std::string sha256Hex(std::string_view data);
