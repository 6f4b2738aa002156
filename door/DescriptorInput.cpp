#include "DescriptorInput.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>

#include "DoorIo.h"
#include "TcpSocket.h"

namespace {

// As much as one read takes in: a line of a few bytes and a line of many
// megabytes alike come in with few system calls.
constexpr std::size_t bufferSize = std::size_t{64} * 1024;

} // namespace

DescriptorInput::DescriptorInput(int fd, std::chrono::milliseconds idleLimit, std::unique_ptr<TelnetInput> telnet)
    : fd(fd), limit(idleLimit), telnet(std::move(telnet)), buffer(std::make_unique_for_overwrite<char[]>(bufferSize))
{
    if (this->telnet != nullptr) {
        keepUrgentDataInLine(fd);
    }
}

bool DescriptorInput::awaitInput() const
{
    using Clock = std::chrono::steady_clock;
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

std::size_t DescriptorInput::decodeTelnet(std::size_t size)
{
    const std::size_t text = telnet->decode(buffer.get(), size);
    // The answers go back on the connection the commands came on, which is
    // also the game's output. The game reads only after it has flushed that
    // output (AbstractGame::readLine), so they cannot land inside anything
    // it writes.
    // If the connection is gone, the next read tells.
    writeAll(fd, telnet->replies());
    telnet->replies().clear();
    if (telnet->interrupted()) {
        ended = true;
    }
    return text;
}

DescriptorInput::int_type DescriptorInput::underflow()
{
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    // The wait starts when the game asks for a new line; neither the bytes
    // of a line that has begun but not ended nor telnet commands without
    // text (a client's keep-alive) make it any longer.
    if (limit.count() > 0 && atLineStart) {
        deadline = std::chrono::steady_clock::now() + limit;
    }
    while (!ended) {
        if (limit.count() > 0 && !awaitInput()) {
            idled = true;
            ended = true;
            break;
        }
        ssize_t got = 0;
        do {
            got = ::read(fd, buffer.get(), bufferSize);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            ended = true;
            break;
        }
        auto size = static_cast<std::size_t>(got);
        if (telnet != nullptr) {
            size = decodeTelnet(size);
        }
        if (size > 0) {
            atLineStart = buffer[size - 1] == '\n';
            setg(buffer.get(), buffer.get(), buffer.get() + size);
            return traits_type::to_int_type(buffer[0]);
        }
    }
    if (telnet != nullptr && telnet->interrupted() && !atLineStart) {
        // The line the player was typing is thrown away, once.
        atLineStart = true;
        throw Interrupted();
    }
    return traits_type::eof();
}
