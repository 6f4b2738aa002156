// Input no player should type: huge lines, white space only, control and
// non-ASCII bytes, NUL bytes, printf-style text. Each gets the game's usual
// answer, and the game goes on.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "GameHarness.h"

namespace {

const std::string unknown = "I dont understand the command.\n";
const std::size_t tenMegabytes = 10 * 1024 * 1024;

std::string greetingIn(const std::string& output)
{
    const std::size_t from = output.find("have fun again ");
    return output.substr(from, output.find('\n', from) - from);
}

std::string manyWords()
{
    std::string words;
    words.reserve(tenMegabytes);
    while (words.size() < tenMegabytes) {
        words += "x y ";
    }
    return words;
}

} // namespace

TEST(BadInput, TenMegabyteLineOfOneWord)
{
    const std::string word(tenMegabytes, 'x');
    const std::string blanks(tenMegabytes, ' ');
    const std::vector<std::string> answers =
        support::answersTo(word + "\n" + blanks + "\n" + "take " + word + "\n" + "i\n");
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_EQ(answers[0], unknown);
    EXPECT_EQ(answers[1], unknown);
    EXPECT_EQ(answers[2], "\nThere's nothing to take with that name!\n");
    EXPECT_EQ(answers[3], "\nYour inventory is empty\n");
}

TEST(BadInput, TenMegabyteLineOfUnknownWords)
{
    const std::vector<std::string> answers = support::answersTo(manyWords() + "\ni\n");
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], unknown);
    EXPECT_EQ(answers[1], "\nYour inventory is empty\n");
}

TEST(BadInput, TenMegabyteLinesWithACommandWord)
{
    const std::vector<std::string> answers =
        support::answersTo("drop " + manyWords() + "\n" + manyWords() + "north\n" + "i\n");
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0], "\nCould not drop the item\n");
    EXPECT_EQ(answers[1], "\nYou can't go that way!\n") << "the first known word decides, however late";
    EXPECT_EQ(answers[2], "\nYour inventory is empty\n");
}

TEST(BadInput, TenMegabyteNameAndArguments)
{
    const std::string huge(tenMegabytes, 'N');
    const support::PlayedGame played = support::playGame(huge + "\ni\n");
    EXPECT_EQ(greetingIn(played.output), "have fun again " + huge.substr(0, 29));
    EXPECT_EQ(played.answers, (std::vector<std::string>{"\nYour inventory is empty\n", ""}));

    // The help handler takes any argument as asking for the long list.
    const std::vector<std::string> answers = support::answersTo("help " + huge + "\nexamine " + huge + "\n");
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].rfind("\nThe available commands are:\n", 0), 0u);
    EXPECT_EQ(answers[1].rfind("\nYour Room\n", 0), 0u) << "nothing by that name: the room is shown";
}

TEST(BadInput, WhiteSpaceOnlyLines)
{
    const std::vector<std::string> answers =
        support::answersTo(" \n\t\n \t \t\n\v\f\n" + std::string(4000, '\t') + "\n\r\r\n");
    ASSERT_EQ(answers.size(), 7u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(answers[i], unknown) << "line " << i << " with no empty line before the message";
    }
    EXPECT_EQ(answers[6], "");
}

TEST(BadInput, ControlAndNonAsciiBytes)
{
    const std::vector<std::string> lines = {
        "\x01\x02\x03\x1b[2J",
        "\xff\xfe\xfd",
        "take s\xc3\xb6" // UTF-8; split so that the c is not read as a hex digit
        "cks",
        std::string("north\0", 6),
        std::string("take so\0cks", 11),
        std::string(1, '\0'),
        "take\x7f socks",
        "t\tsocks\x1b",
        "examine \x07\x08",
        "t socks",
        "drop socks\x01",
        "use \x01 on \x02",
        "i",
    };
    std::string input;
    for (const std::string& line : lines) {
        input += line + "\n";
    }
    const std::vector<std::string> answers = support::answersTo(input);
    const std::vector<std::string> expected = {
        unknown,
        unknown,
        "\nThere's nothing to take with that name!\n",
        unknown,
        "\nThere's nothing to take with that name!\n",
        unknown,
        unknown,
        "\nThere's nothing to take with that name!\n",
        answers.size() > 8 ? answers[8] : "",
        "\nThe dirty socks was added to your inventory\n",
        "\nCould not drop the item\n",
        "\nThose items can't be used in that fashion\n",
        "\nYour inventory: \ndirty socks\n",
        "",
    };
    EXPECT_EQ(answers, expected);
    ASSERT_GT(answers.size(), 8u);
    EXPECT_EQ(answers[8].rfind("\nYour Room\n", 0), 0u);
}

TEST(BadInput, NamesOfAnyKind)
{
    struct Case {
        std::string line;
        std::string greeting;
    };
    const Case cases[] = {
        {std::string(1000, 'a'), "have fun again " + std::string(29, 'a')},
        {"%s%n%x%p%d%%", "have fun again %s%n%x%p%d%%"},
        {"%n%n%n%n%n%n%n%n%n%n%n%n%n%n%n%n", "have fun again %n%n%n%n%n%n%n%n%n%n%n%n%n%n%"},
        {"\t \t", "have fun again \t \t"},
        {"J\xc3\xbcrgen \x01\x7f", "have fun again J\xc3\xbcrgen \x01\x7f"},
        // The name is a C string: it ends at a NUL byte.
        {std::string("Al\0ice", 6), "have fun again Al"},
        {"", "have fun again "},
        {"quit", "have fun again quit"},
    };
    for (const Case& c : cases) {
        const support::PlayedGame played = support::playGame(c.line + "\ni\n");
        EXPECT_EQ(greetingIn(played.output), c.greeting);
        EXPECT_EQ(played.answers, (std::vector<std::string>{"\nYour inventory is empty\n", ""}))
            << "the next line is the first command";
    }
}

TEST(BadInput, PrintfStyleArgumentsArePlainText)
{
    const std::vector<std::string> answers =
        support::answersTo("take %s%n%x\ndrop %n%n%n\nread %s%s%s\nuse %s on %n\n%s%n%x\nhelp %n\n");
    ASSERT_EQ(answers.size(), 7u);
    EXPECT_EQ(answers[0], "\nThere's nothing to take with that name!\n");
    EXPECT_EQ(answers[1], "\nCould not drop the item\n");
    EXPECT_EQ(answers[2], "\nThere's nothing to read here\n");
    EXPECT_EQ(answers[3], "\nThose items can't be used in that fashion\n");
    EXPECT_EQ(answers[4], unknown);
    EXPECT_EQ(answers[5].rfind("\nThe available commands are:\n - north - east", 0), 0u);

    // Dropped items repeat the player's words exactly.
    const std::vector<std::string> dropped = support::answersTo("take socks\ndrop %s%n\ndrop socks\n");
    EXPECT_EQ(dropped[1], "\nCould not drop the item\n");
    EXPECT_EQ(dropped[2], "\nDropped the socks\n");
}

TEST(BadInput, LinesPastTheLineLimitAreRefusedAndTheGameGoesOn)
{
    support::TempDir dir;
    support::ScriptedGame game(std::string(40, 'n') + "\n" + "take " + std::string(50, 's') + "\n" +
                                   std::string(100, 'x') + "\r\n" + "write page 1 " + std::string(200, 'w') + "\ni\n",
                               dir.flags());
    game->lineInput().setLineLimit(64);
    game.play();
    // The name keeps its first characters, as with any long name.
    EXPECT_EQ(greetingIn(game.output()), "have fun again " + std::string(29, 'n'));
    const std::string tooLong = "That line is too long for me, try a shorter one...\n";
    EXPECT_EQ(game.answers(), (std::vector<std::string>{"\nThere's nothing to take with that name!\n", tooLong, tooLong,
                                                        "\nYour inventory is empty\n", ""}));
}
