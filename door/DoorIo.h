#pragma once

#include <csignal>
#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The small pieces of system work that the doors share: their journal
// lines, descriptors read and written against a deadline, the lines doors
// and relays ask each other with, and the game's process.

using Clock = std::chrono::steady_clock;

// The longest line that doors and relays ask each other with.
constexpr std::size_t requestLimit = 512;

// One line for the operator on standard error, which the units send to the
// journal.
void say(const std::string& text);

std::vector<std::string> splitWords(std::string_view line);
bool equalsIgnoringCase(std::string_view one, std::string_view other);
// Decimal digits only, no sign, fitting the type.
bool parseNumber(std::string_view text, std::uint64_t& value);

void setNonBlocking(int fd);

// Reads from fd up to and including a line end, waiting until deadline at
// most; the line without its end goes into line, whatever came after it in
// the same reads into rest. With passed, a descriptor sent along (a door
// handing over its connection) lands there. False at the end of input, on
// an error, at the deadline, and for a line too long to be a request.
bool readLine(int fd, std::string& line, std::string& rest, int* passed, Clock::time_point deadline);

// One read from the Unix socket fd, as read() does, taking along a
// descriptor sent with it into passed (one at most; others are closed).
ssize_t receiveWithDescriptor(int fd, char* buffer, std::size_t size, int* passed);

// Writes all of data to fd (blocking or not), waiting until deadline at most.
bool writeAllBefore(int fd, std::string_view data, Clock::time_point deadline);
// Writes all of data to fd for as long as that takes; false if the peer is gone.
inline bool writeAll(int fd, std::string_view data) { return writeAllBefore(fd, data, Clock::time_point::max()); }

// A connected socket to the Unix socket at path, or -1 with errno set.
int connectUnix(const std::string& path);

// Sends data on the Unix socket fd with the descriptor passed along.
bool sendWithDescriptor(int fd, std::string_view data, int passed);

// The address of the peer of a TCP connection, as text.
std::string peerAddress(int fd);

// Waits as poll does until one of watched is ready or wake (if any) has
// come; the termination signals that the caller blocks are let through
// meanwhile, so that one sets signalled and ends the wait at once.
int waitFor(std::vector<pollfd>& watched, std::optional<Clock::time_point> wake);

// The game's process with pipes for its standard input and output (both
// non-blocking on this side); its standard error is the door's.
struct GameProcess {
    pid_t pid = -1;
    int input = -1;  // written by the door
    int output = -1; // read by the door
};
GameProcess spawnGame(const std::string& program);

// The payload of a web page's hello frame.
std::string helloJson(const std::string& token, std::uint64_t input, std::uint64_t output, std::chrono::seconds hold);
