#pragma once

#include <cstddef>
#include <string>

// The telnet protocol (RFC 854, 855) in the input of a game served on a TCP
// connection. Telnet clients, and many other clients that negotiate, mix
// commands (IAC ...) into what the player types; the decoder takes them out,
// so that the game sees only the player's text, and keeps the answers the
// client is owed. Every option the client offers or asks for is refused, so
// the session stays in plain line mode with the client echoing; only a
// timing mark is answered, which a client asks for after an interrupt and
// waits for. Its state lasts from read to read: a command may be split
// between two reads at any byte.
class TelnetInput {
public:
    // Takes the telnet commands out of data, the bytes of one read, in
    // place: the first bytes of data, as many as it returns, are then the
    // player's text. An escaped IAC IAC is one 0xFF byte, and CR NUL a line
    // end as CR LF is (its NUL becomes an LF). Once the client has
    // interrupted, nothing more is text, and the text of this read is cut
    // back to its last line end: a line that had not ended is thrown away,
    // as a terminal's interrupt throws away a half-typed line.
    std::size_t decode(char* data, std::size_t size);

    // The answers to the client owed so far; the caller sends them and
    // clears the string.
    std::string& replies() { return answers; }

    // True once the client has sent IAC IP (its Ctrl-C) or IAC BRK: the
    // player's input ends there.
    bool interrupted() const { return interrupt; }

private:
    enum class State : unsigned char {
        text,       // the player's bytes
        command,    // after IAC
        option,     // after IAC WILL, WONT, DO or DONT: the option's byte
        sub,        // inside IAC SB ... IAC SE
        subCommand, // after IAC inside a subnegotiation
    };

    // Handles the byte after an IAC; keeps an escaped 0xFF through keep.
    void command(unsigned char byte, char* data, std::size_t& kept);
    void answerOption(unsigned char option);

    State state = State::text;
    unsigned char verb = 0; // WILL, WONT, DO or DONT, while its option is awaited
    bool afterCr = false;   // the last text byte was a CR
    bool interrupt = false;
    std::string answers;
};
