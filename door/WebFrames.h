#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The frames a web page gets from its game (docs/web-protocol.md): a type
// letter, the payload's length in 4 bytes (big-endian), the payload.
namespace frame {

constexpr char hello = 'H';    // the game is there: a JSON object
constexpr char output = 'O';   // the game's output
constexpr char received = 'A'; // the input bytes received in all, in digits
constexpr char typed = 'I';    // a line the player typed: the input bytes in all after it, a blank, the line
constexpr char end = 'E';      // how the game ended, one word; the connection closes

// How a web game's connection ends: the words of an end frame.
constexpr std::string_view ended = "ended";         // the game ended by itself
constexpr std::string_view stopped = "stopped";     // killed, crashed, or its door went away
constexpr std::string_view full = "full";           // no game could be started
constexpr std::string_view expired = "expired";     // no such game to resume
constexpr std::string_view elsewhere = "elsewhere"; // another connection took the game over

void append(std::string& out, char type, std::string_view payload);

// Follows a stream of frames as it passes, to tell what came through.
class Watcher {
public:
    void pass(std::string_view bytes);
    bool sawAny() const { return any; }
    bool sawEnd() const { return endSeen; }
    // True between frames: a frame of one's own may follow.
    bool betweenFrames() const { return headerHave == 0 && payloadLeft == 0; }

private:
    unsigned char header[5]{};
    std::size_t headerHave = 0;
    std::uint64_t payloadLeft = 0;
    bool any = false;
    bool endSeen = false;
};

} // namespace frame
