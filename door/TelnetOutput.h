#pragma once

#include <streambuf>
#include <string>
#include <string_view>

// The game's output as the telnet protocol (RFC 854) carries it on a TCP
// connection, in the network virtual terminal's form: every line end is
// CR LF, a carriage return on its own is CR NUL, and a byte 0xFF is doubled
// (IAC IAC), so that nothing a player writes, hides or names can reach
// another player's client as a telnet command. Appends the encoded bytes of
// raw to out; no state is kept from call to call.
void appendNvt(std::string& out, std::string_view raw);

// An output stream buffer that sends what is written to the descriptor fd
// in that form, for a game that has a TCP connection as its standard output.
// It holds what it is given until a flush (the game flushes every line and
// every prompt), or until a good deal has come.
class NvtOutput : public std::streambuf {
public:
    explicit NvtOutput(int fd) : fd(fd) {}
    NvtOutput(const NvtOutput&) = delete;
    NvtOutput& operator=(const NvtOutput&) = delete;
    ~NvtOutput() override { send(); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;
    int sync() override;

private:
    void send();

    int fd;
    std::string pending;
};
