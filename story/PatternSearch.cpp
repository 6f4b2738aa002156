#include "PatternSearch.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Whether pattern stands whole at data[at]; the caller knows it fits.
bool matchesAt(const char* data, std::size_t at, std::string_view pattern)
{
    return std::memcmp(data + at, pattern.data(), pattern.size()) == 0;
}

} // namespace

std::size_t findPatternPortable(const char* data, std::size_t size, std::string_view pattern)
{
    const std::size_t length = pattern.size();
    if (length == 0) {
        return 0;
    }
    if (size < length) {
        return noMatch;
    }
    const std::size_t lastStart = size - length;
    std::size_t at = 0;
    while (at <= lastStart) {
        const void* found = std::memchr(data + at, pattern[0], lastStart - at + 1);
        if (found == nullptr) {
            return noMatch;
        }
        at = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (matchesAt(data, at, pattern)) {
            return at;
        }
        ++at;
    }
    return noMatch;
}

#if defined(__SSE2__)
std::size_t findPatternSse2(const char* data, std::size_t size, std::string_view pattern)
{
    const std::size_t length = pattern.size();
    if (length < 3) {
        return findPatternPortable(data, size, pattern);
    }
    if (size < length) {
        return noMatch;
    }
    const __m128i first = _mm_set1_epi8(pattern[0]);
    const __m128i second = _mm_set1_epi8(pattern[1]);
    const __m128i last = _mm_set1_epi8(pattern[length - 1]);
    std::size_t at = 0;
    // Each round loads 16 bytes at at, at + 1 and at + length - 1; the
    // furthest byte read is at + length + 14.
    for (; at + length + 15 <= size; at += 16) {
        const auto* here = reinterpret_cast<const __m128i*>(data + at);
        const __m128i a = _mm_loadu_si128(here);
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + length - 1));
        const __m128i hits =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second)), _mm_cmpeq_epi8(c, last));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
            // The first two bytes and the last are known to match.
            if (std::memcmp(data + at + bit + 2, pattern.data() + 2, length - 3) == 0) {
                return at + bit;
            }
            mask &= mask - 1;
        }
    }
    // The last few places, too close to the end for a 16-byte load.
    const std::size_t rest = findPatternPortable(data + at, size - at, pattern);
    return rest == noMatch ? noMatch : at + rest;
}
#endif
