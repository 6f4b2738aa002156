#pragma once

#include <cstddef>

// True if fd is a TCP socket (a stream over IPv4 or IPv6): the game is
// served on a network connection. False for a terminal, a pipe, a file or a
// Unix socket (a socket pair, a relay's connection).
bool isTcpSocket(int fd);

// Turns Nagle's delay off on fd when it is a TCP socket. A game writes its
// answers in small flushed pieces (the lookout's lines, the prompt); with the
// delay on, each piece after the first waits for the player's
// acknowledgement. True if the option was set; false for anything that is
// not a TCP socket, which is left as it is.
bool disableNagleOnTcp(int fd);

// Keeps TCP urgent data in line. A telnet client's synch sends the data mark
// of its IAC DM as urgent data: kept in line, the telnet decoder sees the
// whole command; taken out of the stream, it would leave an IAC that
// swallows the next byte of the player's text.
void keepUrgentDataInLine(int fd);

// How many bytes written to the TCP socket fd its peer has not acknowledged
// yet (they may never have arrived); 0 when that cannot be told.
std::size_t unacknowledgedBytes(int fd);
