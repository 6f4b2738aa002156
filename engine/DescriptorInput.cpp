#include "DescriptorInput.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

// As much as one read takes in: a line of a few bytes and a line of many
// megabytes alike come in with few system calls.
constexpr std::size_t bufferSize = std::size_t{64} * 1024;

} // namespace

DescriptorInput::DescriptorInput(int fd, std::chrono::milliseconds idleLimit)
    : fd(fd), limit(idleLimit), buffer(std::make_unique_for_overwrite<char[]>(bufferSize))
{
}

bool DescriptorInput::awaitInput()
{
    using Clock = std::chrono::steady_clock;
    // The wait starts when the game asks for a new line; the bytes of a line
    // that has begun but not ended do not make it any longer.
    if (atLineStart) {
        deadline = Clock::now() + limit;
    }
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int got = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (got > 0) {
            return true; // data, the end of input or an error: read() tells which
        }
        if (got < 0 && errno != EINTR) {
            return true;
        }
    }
}

DescriptorInput::int_type DescriptorInput::underflow()
{
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    if (ended) {
        return traits_type::eof();
    }
    if (limit.count() > 0 && !awaitInput()) {
        idled = true;
        ended = true;
        return traits_type::eof();
    }
    ssize_t got = 0;
    do {
        got = ::read(fd, buffer.get(), bufferSize);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        ended = true;
        return traits_type::eof();
    }
    const auto size = static_cast<std::size_t>(got);
    atLineStart = buffer[size - 1] == '\n';
    setg(buffer.get(), buffer.get(), buffer.get() + size);
    return traits_type::to_int_type(buffer[0]);
}
