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
namespace {

__m128i load16(const char* data) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data)); }

// The places among the 16 starting at data whose second and last two bytes
// equal the pattern's, one bit each; firstHits has the places whose first
// byte does.
struct Candidates {
    __m128i second;
    __m128i beforeLast;
    __m128i last;
    std::size_t length;

    unsigned at(const char* data, __m128i firstHits) const
    {
        const __m128i front = _mm_and_si128(firstHits, _mm_cmpeq_epi8(load16(data + 1), second));
        const __m128i back = _mm_and_si128(_mm_cmpeq_epi8(load16(data + length - 2), beforeLast),
                                           _mm_cmpeq_epi8(load16(data + length - 1), last));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(front, back)));
    }
};

} // namespace

std::size_t findPatternSse2(const char* data, std::size_t size, std::string_view pattern)
{
    const std::size_t length = pattern.size();
    if (length < 3) {
        return findPatternPortable(data, size, pattern);
    }
    const __m128i first = _mm_set1_epi8(pattern[0]);
    const Candidates candidates{_mm_set1_epi8(pattern[1]), _mm_set1_epi8(pattern[length - 2]),
                                _mm_set1_epi8(pattern[length - 1]), length};
    // What the four byte compares leave to check: the bytes between.
    const std::size_t middle = length > 4 ? length - 4 : 0;
    std::size_t at = 0;
    std::size_t quietRounds = 0; // rounds in a row without the first byte
    // Each round looks at 32 places. The furthest byte read is at + 16 +
    // length - 1 + 15.
    for (; at + length + 31 <= size; at += 32) {
        const char* block = data + at;
        const __m128i firstHits[2] = {_mm_cmpeq_epi8(load16(block), first), _mm_cmpeq_epi8(load16(block + 16), first)};
        if (_mm_movemask_epi8(_mm_or_si128(firstHits[0], firstHits[1])) == 0) {
            // 256 places without the first byte (a line end): a long line.
            // memchr finds the next one fastest; short lines never get here.
            if (++quietRounds < 8) {
                continue;
            }
            quietRounds = 0;
            const void* next = std::memchr(block + 32, pattern[0], size - at - 32);
            if (next == nullptr) {
                return noMatch;
            }
            at = static_cast<std::size_t>(static_cast<const char*>(next) - data) - 32;
            continue;
        }
        quietRounds = 0;
        auto mask = candidates.at(block, firstHits[0]) | (candidates.at(block + 16, firstHits[1]) << 16);
        while (mask != 0) {
            const auto place = at + static_cast<std::size_t>(__builtin_ctz(mask));
            if (std::memcmp(data + place + 2, pattern.data() + 2, middle) == 0) {
                return place;
            }
            mask &= mask - 1;
        }
    }
    // The last few places, too close to the end for the 16-byte loads.
    const std::size_t rest = findPatternPortable(data + at, size - at, pattern);
    return rest == noMatch ? noMatch : at + rest;
}
#endif
