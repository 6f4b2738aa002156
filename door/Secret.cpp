#include "Secret.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <stdexcept>

namespace {

constexpr std::string_view digits = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

} // namespace

namespace secret {

std::string make(std::size_t characters)
{
    std::array<unsigned char, 64> random{};
    if (characters > random.size()) {
        throw std::length_error("secret too long");
    }
    std::size_t got = 0;
    while (got < characters) {
        const ssize_t read = ::getrandom(random.data() + got, characters - got, 0);
        if (read < 0 && errno != EINTR) {
            throw std::runtime_error("no random bytes");
        }
        got += read > 0 ? static_cast<std::size_t>(read) : 0;
    }
    // 256 is a multiple of 32: each character is uniform.
    std::string made;
    for (std::size_t i = 0; i < characters; ++i) {
        made += digits[random[i] % digits.size()];
    }
    return made;
}

std::string normalize(std::string_view typed)
{
    std::string normal;
    for (const char c : typed) {
        char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper == '-' || upper == ' ' || upper == '\t') {
            continue;
        }
        if (upper == 'I' || upper == 'L') {
            upper = '1';
        } else if (upper == 'O') {
            upper = '0';
        }
        if (digits.find(upper) == std::string_view::npos) {
            return "";
        }
        normal += upper;
    }
    return normal;
}

bool same(std::string_view one, std::string_view other)
{
    if (one.size() != other.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (std::size_t i = 0; i < one.size(); ++i) {
        differ |= static_cast<unsigned char>(one[i] ^ other[i]);
    }
    return differ == 0;
}

std::string grouped(std::string_view code)
{
    std::string shown;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (i > 0 && i % 4 == 0) {
            shown += '-';
        }
        shown += code[i];
    }
    return shown;
}

} // namespace secret
