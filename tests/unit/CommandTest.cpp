// The command record: how the argument text is split into words, what the
// accessors return past the last word, and that copies are independent.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "Command.h"

using Words = std::vector<std::string>;

TEST(Command, SplitsArgumentTextLikeStreamExtraction)
{
    struct Case {
        std::string text;
        Words words;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {" \t ", {}},
        {"\n\v\f\r\t ", {}},
        {"socks", {"socks"}},
        {"dirty socks", {"dirty", "socks"}},
        {"  page   3 ", {"page", "3"}},
        {"page 3 hello   world", {"page", "3", "hello", "world"}},
        {"a\tb\nc\vd\fe\rf", {"a", "b", "c", "d", "e", "f"}},
        // Only the six white-space characters separate; everything else is word.
        {std::string("x\0y z", 5), {std::string("x\0y", 3), "z"}},
        {"\x01\x7f \xc3\xa4", {"\x01\x7f", "\xc3\xa4"}},
    };
    for (const Case& c : cases) {
        const Command command("write", c.text);
        EXPECT_EQ(command.getArgs(), c.words) << "text: [" << c.text << "]";
        EXPECT_EQ(command.getArgsstring(), c.text) << "the text itself is never altered";
        EXPECT_EQ(command.getCommandWord(), "write");
        for (std::size_t i = 0; i < c.words.size(); ++i) {
            EXPECT_EQ(command.getArg(static_cast<unsigned>(i)), c.words[i]);
        }
        EXPECT_EQ(command.getArg(static_cast<unsigned>(c.words.size())), "");
    }
}

TEST(Command, GetArgPastTheEndIsEmpty)
{
    const Command empty("take", "");
    EXPECT_TRUE(empty.getArgs().empty());
    EXPECT_EQ(empty.getArg(0), "");
    EXPECT_EQ(empty.getArg(7), "");
    EXPECT_EQ(empty.getArg(UINT_MAX), "");
    EXPECT_EQ(empty.getArgsstring(), "");

    const Command two("use", "key door");
    EXPECT_EQ(two.getArg(1), "door");
    EXPECT_EQ(two.getArg(2), "");
    EXPECT_EQ(two.getArg(UINT_MAX), "");
    EXPECT_EQ(two.getArg(UINT_MAX - 1), "");
    // The same after the words have been asked for as a whole.
    EXPECT_EQ(two.getArgs().size(), 2u);
    EXPECT_EQ(two.getArg(UINT_MAX), "");
    EXPECT_EQ(two.getArg(0), "key");
}

TEST(Command, KeepsTheCommandWordAsTyped)
{
    const Command command("Take", "The Socks");
    EXPECT_EQ(command.getCommandWord(), "Take");
    EXPECT_EQ(command.getArgs(), (Words{"The", "Socks"}));
}

TEST(Command, CopiesAreMemberwiseAndIndependent)
{
    // Copied both before and after the words were first asked for.
    for (const bool splitFirst : {false, true}) {
        Command source("write", "page 3 hello   world");
        if (splitFirst) {
            ASSERT_EQ(source.getArgs().size(), 4u);
        }
        Command copy(source);
        EXPECT_EQ(copy.getCommandWord(), source.getCommandWord());
        EXPECT_EQ(copy.getArgsstring(), source.getArgsstring());
        EXPECT_EQ(copy.getArgs(), source.getArgs());

        copy = Command("take", "socks");
        EXPECT_EQ(copy.getArg(0), "socks");
        EXPECT_EQ(source.getCommandWord(), "write");
        EXPECT_EQ(source.getArgsstring(), "page 3 hello   world");
        EXPECT_EQ(source.getArgs(), (Words{"page", "3", "hello", "world"}));
    }
}
