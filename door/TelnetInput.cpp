#include "TelnetInput.h"

#include <algorithm>

namespace {

// The command bytes of RFC 854 that the decoder acts on, and the timing
// mark option of RFC 860.
constexpr unsigned char IAC = 255;
constexpr unsigned char DONT = 254;
constexpr unsigned char DO = 253;
constexpr unsigned char WONT = 252;
constexpr unsigned char WILL = 251;
constexpr unsigned char SB = 250;
constexpr unsigned char IP = 244;
constexpr unsigned char BRK = 243;
constexpr unsigned char SE = 240;
constexpr unsigned char TIMING_MARK = 6;

} // namespace

std::size_t TelnetInput::decode(char* data, std::size_t size)
{
    std::size_t kept = 0; // text is written over the bytes already read
    for (std::size_t at = 0; at < size; ++at) {
        const auto byte = static_cast<unsigned char>(data[at]);
        switch (state) {
        case State::text:
            if (byte == IAC) {
                state = State::command;
            } else if (!interrupt) {
                // CR NUL is the protocol's bare carriage return, which a
                // client sends for Enter: a line end like CR LF.
                data[kept++] = afterCr && byte == '\0' ? '\n' : static_cast<char>(byte);
                afterCr = byte == '\r';
            }
            break;
        case State::command:
            state = State::text;
            command(byte, data, kept);
            break;
        case State::option:
            state = State::text;
            answerOption(byte);
            break;
        case State::sub:
            // What a subnegotiation carries answers an option that is off.
            if (byte == IAC) {
                state = State::subCommand;
            }
            break;
        case State::subCommand:
            if (byte == IAC) { // an escaped 0xFF inside the subnegotiation
                state = State::sub;
            } else {
                // IAC SE ends it. Any other command ends it too, as a
                // client that lost its SE would mean, so that a broken
                // subnegotiation cannot swallow the rest of the input.
                state = State::text;
                if (byte != SE) {
                    command(byte, data, kept);
                }
            }
            break;
        }
    }
    return kept;
}

void TelnetInput::command(unsigned char byte, char* data, std::size_t& kept)
{
    switch (byte) {
    case IAC:
        if (!interrupt) {
            data[kept++] = static_cast<char>(IAC);
            afterCr = false;
        }
        break;
    case WILL:
    case WONT:
    case DO:
    case DONT:
        verb = byte;
        state = State::option;
        break;
    case SB:
        state = State::sub;
        break;
    case IP:
    case BRK:
        if (!interrupt) {
            interrupt = true;
            // Whole lines before the interrupt are still the player's; the
            // line being typed is not.
            const auto end = std::find(std::reverse_iterator(data + kept), std::reverse_iterator(data), '\n');
            kept = static_cast<std::size_t>(end.base() - data);
        }
        break;
    default:
        // NOP, data mark, go ahead, are-you-there, abort output and the
        // editing commands, which a client in line mode has no use for.
        break;
    }
}

void TelnetInput::answerOption(unsigned char option)
{
    // Every option is off and stays off: an offer is declined and a request
    // refused. WONT and DONT agree with that and get no answer, so no
    // exchange with the client can go round in a loop.
    unsigned char answer = 0;
    if (verb == WILL) {
        answer = DONT;
    } else if (verb == DO) {
        // A timing mark asks the server to say when it has read everything
        // sent before it; a client waits for that after an interrupt.
        answer = option == TIMING_MARK ? WILL : WONT;
    } else {
        return;
    }
    answers += static_cast<char>(IAC);
    answers += static_cast<char>(answer);
    answers += static_cast<char>(option);
}
