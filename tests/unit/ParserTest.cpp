// The input parser: cleansing, which handler a line goes to, the argument
// text each handler receives, and the input loop's ends.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GameHarness.h"

namespace {

// A handler that only records the commands it is given.
class Probe : public AbstractCommand {
public:
    Probe(std::vector<std::string> words, bool cleanseArgs, std::vector<Command>* seen)
        : words(std::move(words)), seen(seen)
    {
        cleanse = cleanseArgs;
    }
    std::vector<std::string> getRecognizedCommands() override { return words; }
    int execute(Command command) override
    {
        seen->push_back(command);
        return 0;
    }

private:
    std::vector<std::string> words;
    std::vector<Command>* seen;
};

// A handler that registers another one when it runs.
class Unlocker : public AbstractCommand {
public:
    explicit Unlocker(std::vector<Command>* seen) : seen(seen) {}
    std::vector<std::string> getRecognizedCommands() override { return {"unlock"}; }
    int execute(Command /*command*/) override
    {
        AbstractGame::instance->addCommand(std::make_unique<Probe>(std::vector<std::string>{"secret"}, true, seen));
        return 0;
    }

private:
    std::vector<Command>* seen;
};

class ParserFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        game.init();
        game.addCommand(std::make_unique<Probe>(std::vector<std::string>{"probe", "p"}, true, &seen));
        game.addCommand(std::make_unique<Probe>(std::vector<std::string>{"rawprobe"}, false, &seen));
        game.take();
    }

    support::MiniGame game;
    std::vector<Command> seen;
};

} // namespace

TEST(ParserCleanse, DropsFillerWordsAndRebuildsTheLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"take the dirty socks", " take dirty socks"},
        {"  take\tthe   dirty  socks  ", " take dirty socks"},
        {"look at the pc", " look pc"},
        {"the take socks", " take socks"},
        {"the a an at", ""},
        {"at the", ""},
        {"", ""},
        {" \t ", ""},
        // Case-sensitive, whole words only.
        {"The AN take At", " The AN take At"},
        {"atthe theme an.", " atthe theme an."},
        {"use key at door", " use key door"},
    };
    for (const auto& [line, cleansed] : cases) {
        EXPECT_EQ(Parser::cleanseLine(line), cleansed) << "line: [" << line << "]";
    }
}

TEST(ParserCleanse, TokenizeAppendsWithoutClearing)
{
    std::vector<std::string> words{"kept"};
    Parser::tokenize("  take \t the\nsocks ", words);
    EXPECT_EQ(words, (std::vector<std::string>{"kept", "take", "the", "socks"}));
    Parser::tokenize("   ", words);
    EXPECT_EQ(words.size(), 4u);
}

TEST_F(ParserFixture, ArgumentTextForEachLine)
{
    struct Case {
        std::string line;
        std::string word;
        std::string args;
    };
    const Case cases[] = {
        // Cleansing handler: filler words go, the text after the word stays.
        {"probe the dirty socks", "probe", "dirty socks"},
        {"probe at the   pc", "probe", "pc"},
        {"probe the the socks", "probe", "socks"},
        {"probe", "probe", ""},
        {"probe a", "probe", ""},
        {"probe x", "probe", "x"},
        {"  probe   x  \t y  ", "probe", "x y"},
        {"the probe socks", "probe", "socks"},
        {"p socks", "p", "socks"},
        // Other words before the command word: the handler still gets what follows it.
        {"please probe the socks", "probe", "socks"},
        {"go on and p it", "p", "it"},
        {"x probe rawprobe y", "probe", "rawprobe y"},
        // Non-cleansing handler: the line as typed, one character after the word skipped.
        {"rawprobe page 3 Hello   World", "rawprobe", "page 3 Hello   World"},
        {"rawprobe  page 3 x", "rawprobe", " page 3 x"},
        {"rawprobe the a an", "rawprobe", "the a an"},
        {"rawprobe x ", "rawprobe", "x "},
        {"rawprobe\tx", "rawprobe", "x"},
        {"rawprobe", "rawprobe", ""},
        {"rawprobe ", "rawprobe", ""},
        {"rawprobe  ", "rawprobe", " "},
        {"rawprobe probe y", "rawprobe", "probe y"},
        // White space or other words before a non-cleansing command word.
        {"  rawprobe hi", "rawprobe", "hi"},
        {"the rawprobe a  b", "rawprobe", "a  b"},
        {"please rawprobe  two", "rawprobe", " two"},
    };
    for (const Case& c : cases) {
        seen.clear();
        EXPECT_TRUE(game.line(c.line)) << c.line;
        ASSERT_EQ(seen.size(), 1u) << c.line;
        EXPECT_EQ(seen[0].getCommandWord(), c.word) << c.line;
        EXPECT_EQ(seen[0].getArgsstring(), c.args) << "line: [" << c.line << "]";
        // An understood line is answered after one empty line.
        EXPECT_EQ(game.take(), "\n") << c.line;
    }
}

TEST_F(ParserFixture, UnknownLinesAreNotDispatched)
{
    const std::string lines[] = {"",      "   ",    "\t \t", "PROBE x", "Probe",     "probes", "xprobe", "the a an at",
                                 "hello", "pro be", "NORTH", "n-e",     "TAKE socks"};
    for (const std::string& line : lines) {
        EXPECT_FALSE(game.line(line)) << line;
        EXPECT_EQ(game.take(), "") << "nothing printed for [" << line << "]";
    }
    EXPECT_TRUE(seen.empty());
}

TEST_F(ParserFixture, FirstRegisteredHandlerWinsASharedWord)
{
    std::vector<Command> late;
    game.addCommand(std::make_unique<Probe>(std::vector<std::string>{"probe"}, true, &late));
    EXPECT_TRUE(game.line("probe x"));
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_TRUE(late.empty());
    EXPECT_EQ(game.processCommand(Command("probe", "y")), 0);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(late.empty());
}

TEST_F(ParserFixture, HandlerAddedDuringACommandAnswersFromTheNextLine)
{
    game.addCommand(std::make_unique<Unlocker>(&seen));
    EXPECT_FALSE(game.line("secret door"));
    EXPECT_TRUE(game.line("unlock"));
    EXPECT_TRUE(game.line("secret the door"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].getArgsstring(), "door");
    game.take();
    game.printHelp(true);
    EXPECT_NE(game.take().find(" - unlock\n\n - secret\n\n\n"), std::string::npos);
}

TEST_F(ParserFixture, ProcessCommandIgnoresUnknownWords)
{
    EXPECT_EQ(game.processCommand(Command("dance", "now")), 0);
    EXPECT_EQ(game.processCommand(Command("", "")), 0);
    EXPECT_EQ(game.take(), "");
    EXPECT_TRUE(seen.empty());
}

namespace {

// Plays the bare engine game: the base welcome, then the input loop.
std::string playMini(const std::string& input)
{
    support::MiniGame game;
    game.init();
    game.MiniStreams::in.str(input);
    game.play();
    return game.take();
}

const std::string miniWelcome = "Type 'help' if you need help.\n"
                                "Hall\nA long hall.\nA key glints.\nA note is pinned up.\nAn anvil sits here.\n"
                                "An amulet hangs on a nail.\n";

} // namespace

TEST(ParserLoop, EndsOnQuitExitEmptyLineAndEndOfInput)
{
    const std::string inventory = "\nYour inventory is empty\n";
    EXPECT_EQ(playMini(""), miniWelcome + "> ");
    EXPECT_EQ(playMini("quit\ni\n"), miniWelcome + "> ");
    EXPECT_EQ(playMini("exit\ni\n"), miniWelcome + "> ");
    EXPECT_EQ(playMini("i\n\ni\n"), miniWelcome + "> " + inventory + "> ");
    EXPECT_EQ(playMini("i\nquit"), miniWelcome + "> " + inventory + "> ");
    // The last line is handled once even without its line end.
    EXPECT_EQ(playMini("i"), miniWelcome + "> " + inventory + "> ");
    // A CR before the LF belongs to the line end.
    EXPECT_EQ(playMini("i\r\nquit\r\ni\n"), miniWelcome + "> " + inventory + "> ");
    EXPECT_EQ(playMini("i\r\n\r\ni\n"), miniWelcome + "> " + inventory + "> ");
}

TEST(ParserLoop, OnlyExactQuitWordsEndTheGame)
{
    const std::string unknown = "I dont understand the command.\n";
    EXPECT_EQ(playMini("QUIT\n quit\nquit now\nExit\nexit \n  \n\t\ni\n"),
              miniWelcome + "> " + unknown + "> " + unknown + "> " + unknown + "> " + unknown + "> " + unknown + "> " +
                  unknown + "> " + unknown + "> \nYour inventory is empty\n> ");
}

TEST(ParserLoop, BaseHandlersOnlyHelp)
{
    support::MiniGame game;
    game.init();
    ASSERT_EQ(game.commandCount(), 8u);
    EXPECT_TRUE(game.line("help"));
    EXPECT_EQ(game.take(), "\n<help more> for more detailed help\nThe available commands are:\n"
                           " - north\n\n - drop\n\n - examine\n\n - inventory\n\n - take\n\n - read\n\n"
                           " - use\n\n - help\n\n\n");
    EXPECT_TRUE(game.line("h more"));
    EXPECT_EQ(game.take(), "\nThe available commands are:\n"
                           " - north - east - south - west - southwest - southeast - northwest - northeast"
                           " - n - e - s - w - sw - se - nw - ne\n\n"
                           " - drop\n\n - examine - look\n\n - inventory - i\n\n - take - t\n\n - read - r\n\n"
                           " - use - apply - give - put - place\n\n - help - h\n\n\n");
    // Any word selects the long list; a filler word is gone before help sees it.
    EXPECT_TRUE(game.line("help me"));
    EXPECT_EQ(game.take().find("<help more>"), std::string::npos);
    EXPECT_TRUE(game.line("help a"));
    EXPECT_EQ(game.take().rfind("\n<help more> for more detailed help\n", 0), 0u);
}
