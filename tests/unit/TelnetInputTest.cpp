// The telnet decoder of served games: what the client's commands leave of
// the player's text, and what the client is answered, wherever the reads
// happen to cut the stream.

#include <gtest/gtest.h>

#include <string>

#include "TelnetInput.h"

namespace {

using namespace std::string_literals;

struct Decoded {
    std::string text;
    std::string replies;
    bool interrupted = false;
    bool operator==(const Decoded&) const = default;
};

// The stream read in two pieces, cut before byte cut. After an interrupt the
// game gets the text only up to its last line end: the decoder drops the
// rest of the read it came in, DescriptorInput and LineInput what earlier
// reads handed out.
Decoded decodeCutAt(const std::string& stream, std::size_t cut)
{
    TelnetInput telnet;
    Decoded decoded;
    for (std::string piece : {stream.substr(0, cut), stream.substr(cut)}) {
        decoded.text.append(piece.data(), telnet.decode(piece.data(), piece.size()));
    }
    decoded.replies = telnet.replies();
    decoded.interrupted = telnet.interrupted();
    if (decoded.interrupted) {
        decoded.text.erase(decoded.text.rfind('\n') + 1);
    }
    return decoded;
}

TEST(TelnetInput, DecodesTheSameWhereverAReadEnds)
{
    const struct {
        std::string stream;
        Decoded expected;
    } cases[] = {
        // An escaped IAC is one 0xFF byte of text.
        {"ab\xff\xff\xff\xff"
         "c\r\n",
         {"ab\xff\xff"
          "c\r\n",
          "", false}},
        // A subnegotiation, with an escaped IAC inside, is no text.
        {"\xff\xfa\x18\x01\xff\xff\xfa\xff\xf0name\r\n", {"name\r\n", "", false}},
        // CR NUL ends a line as CR LF does; a CR before other text stays.
        {"go\r\0east\r\nx\ry\n"s, {"go\r\neast\r\nx\ry\n", "", false}},
        // Offers are declined, requests refused, a timing mark answered.
        {"\xff\xfb\x18"
         "Al\xff\xfd\x03\xff\xfd\x06x",
         {"Alx", "\xff\xfe\x18\xff\xfc\x03\xff\xfb\x06", false}},
        // WONT, DONT and the other commands get no answer.
        {"\xff\xfc\x01\xff\xfe\x01\xff\xf1\xff\xf6\xff\xf9x", {"x", "", false}},
        // A subnegotiation that lost its SE ends at the next command.
        {"\xff\xfa\x18xterm\xff\xfd\x01y", {"y", "\xff\xfc\x01", false}},
        // IP (Ctrl-C) ends the input: the line being typed and what follows
        // are dropped, a timing mark that comes with it is answered.
        {"look\r\nta\xff\xf4ke\n\xff\xfd\x06", {"look\r\n", "\xff\xfb\x06", true}},
        {"take\xff\xf3\xff\xfd\x06\r\n", {"", "\xff\xfb\x06", true}}, // and BRK
    };
    for (const auto& [stream, expected] : cases) {
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            EXPECT_EQ(decodeCutAt(stream, cut), expected)
                << "stream " << testing::PrintToString(stream) << " cut at " << cut;
        }
    }
}

TEST(TelnetInput, InterruptDropsTheUnfinishedLineOfItsRead)
{
    TelnetInput telnet;
    std::string read = "look\r\nta\xff\xf4ke\n";
    EXPECT_EQ(telnet.decode(read.data(), read.size()), 6u);
    EXPECT_TRUE(telnet.interrupted());
}

} // namespace
