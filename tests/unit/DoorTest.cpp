// The pieces of weekend-door that hold no descriptor: digests, secrets,
// the output kept for a returning player, the telnet form of output and the
// web page's frames.

#include <string>

#include <gtest/gtest.h>

#include "OutputLog.h"
#include "Secret.h"
#include "Sha256.h"
#include "TelnetOutput.h"
#include "WebFrames.h"

namespace {

using namespace std::string_literals;

TEST(Door, Sha256MatchesTheStandardsExamples)
{
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the block it ends in.
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Door, SecretsAreTypedAsTheyLookAndComparedWhole)
{
    const std::string code = secret::make(secret::codeLength);
    EXPECT_EQ(code.size(), 12u);
    EXPECT_EQ(code.find_first_not_of("0123456789ABCDEFGHJKMNPQRSTVWXYZ"), std::string::npos);
    EXPECT_NE(secret::make(secret::tokenLength), secret::make(secret::tokenLength));
    EXPECT_EQ(secret::grouped("7K3M9Q2XBD4F"), "7K3M-9Q2X-BD4F");
    EXPECT_EQ(secret::normalize("7k3m-9q2x bd4f"), "7K3M9Q2XBD4F");
    EXPECT_EQ(secret::normalize("iLo"), "110");
    // Nothing else passes: not a path, not a character beyond the alphabet.
    EXPECT_EQ(secret::normalize("../X"), "");
    EXPECT_EQ(secret::normalize("U"), "");
    EXPECT_TRUE(secret::same("ABC", "ABC"));
    EXPECT_FALSE(secret::same("ABC", "ABD"));
    EXPECT_FALSE(secret::same("ABC", "ABCD"));
}

TEST(Door, OutputLogKeepsTheLatestBytesByOffset)
{
    OutputLog log(8);
    log.append("ab\n> ");
    EXPECT_EQ(log.lastLineStart(), 3u);
    log.append("look\n> ");
    EXPECT_EQ(log.start(), 4u);
    EXPECT_EQ(log.end(), 12u);
    EXPECT_EQ(log.from(0, 100), " look\n> ");
    EXPECT_EQ(log.from(9, 2), "\n>");
    EXPECT_EQ(log.lastLineStart(), 10u);
    log.append(std::string(20, 'x'));
    EXPECT_EQ(log.start(), 24u);
    EXPECT_EQ(log.from(24, 100), std::string(8, 'x'));
}

TEST(Door, TelnetOutputEndsLinesWithCrLfAndDoublesIac)
{
    std::string out;
    appendNvt(out, "have fun again Zo\xff\xfa\x18\nbare\rend");
    EXPECT_EQ(out, "have fun again Zo\xff\xff\xfa\x18\r\nbare\r\0end"s);
}

TEST(Door, FramesAreFollowedWhereverTheStreamIsCut)
{
    std::string stream;
    frame::append(stream, frame::hello, "{}");
    frame::append(stream, frame::output, std::string(300, 'E'));
    frame::append(stream, frame::end, frame::ended);
    // The end frame counts once its header has passed.
    const std::size_t endSeen = stream.size() - frame::ended.size();
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        frame::Watcher watcher;
        watcher.pass(std::string_view(stream).substr(0, cut));
        EXPECT_EQ(watcher.sawEnd(), cut >= endSeen) << cut;
        watcher.pass(std::string_view(stream).substr(cut));
        EXPECT_TRUE(watcher.sawEnd() && watcher.betweenFrames()) << cut;
    }
}

} // namespace
