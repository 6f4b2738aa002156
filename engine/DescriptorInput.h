#pragma once

#include <chrono>
#include <memory>
#include <streambuf>

// Input read straight from a file descriptor (the game's standard input),
// for a std::istream. With an idle limit, the input ends when no line has
// come for that long: a served game whose player has walked away ends as if
// the connection had closed, instead of holding its place for ever.
class DescriptorInput : public std::streambuf {
public:
    // idleLimit zero: wait for input as long as it takes.
    DescriptorInput(int fd, std::chrono::milliseconds idleLimit);

    // True once the input ended because the idle limit passed.
    bool idledOut() const { return idled; }

protected:
    int_type underflow() override;

private:
    // Waits until the descriptor can be read; false once the limit passed.
    bool awaitInput();

    int fd;
    std::chrono::milliseconds limit;
    std::chrono::steady_clock::time_point deadline;
    bool atLineStart = true; // everything handed out so far ended with a line end
    bool ended = false;
    bool idled = false;
    std::unique_ptr<char[]> buffer;
};
