#pragma once

// True if fd is a TCP socket (a stream over IPv4 or IPv6): the game is
// served on a network connection. False for a terminal, a pipe, a file or a
// Unix socket (a socket pair, websocketd's pipes).
bool isTcpSocket(int fd);

// Turns Nagle's delay off on fd when it is a TCP socket. A game served one
// process per connection writes its answers in small flushed pieces (the
// lookout's lines, the prompt); with the delay on, each piece after the first
// waits for the player's acknowledgement. True if the option was set; false
// for anything that is not a TCP socket, which is left as it is.
bool disableNagleOnTcp(int fd);
