#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <streambuf>

#include "TelnetInput.h"

// Input read straight from a file descriptor (the game's standard input),
// for a std::istream. With an idle limit, the input ends when no line has
// come for that long: a served game whose player has walked away ends as if
// the connection had closed, instead of holding its place for ever. With a
// telnet decoder (a game served on a TCP connection), the client's telnet
// commands are taken out of the input and answered on the same descriptor.
class DescriptorInput : public std::streambuf {
public:
    // idleLimit zero: wait for input as long as it takes. telnet null: the
    // bytes read are all the player's.
    DescriptorInput(int fd, std::chrono::milliseconds idleLimit, std::unique_ptr<TelnetInput> telnet = nullptr);

    // True once the input ended because the idle limit passed.
    bool idledOut() const { return idled; }

    // Thrown when the client interrupted while a line was being typed: the
    // std::istream reading goes bad (badbit), and LineInput drops that line.
    class Interrupted : public std::exception {};

protected:
    int_type underflow() override;

private:
    // Waits until the descriptor can be read; false once the deadline passed.
    bool awaitInput() const;
    // Takes the telnet commands out of the size bytes just read and sends
    // the answers they are owed; the length of the player's text that is left.
    std::size_t decodeTelnet(std::size_t size);

    int fd;
    std::chrono::milliseconds limit;
    std::chrono::steady_clock::time_point deadline;
    std::unique_ptr<TelnetInput> telnet;
    bool atLineStart = true; // everything handed out so far ended with a line end
    bool ended = false;
    bool idled = false;
    std::unique_ptr<char[]> buffer;
};
