// The transcript format: escapes, line ends, typed lines with and without a
// prompt, the end of input, page file blocks, the shared start of a game,
// and writing a transcript back as it was read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Transcript.h"

namespace {

using support::Game;
using support::parseTranscript;
using support::TranscriptError;

const std::vector<std::string> prefix = {"", "Whats you name?", "> {name}", "have fun again {name}", "Your Room"};

Game gameOf(const std::string& text) { return parseTranscript("t", text, prefix).game; }

TEST(TranscriptFormat, EveryByteSurvivesEscaping)
{
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const std::string escaped = support::escapeText(all);
    for (const char c : escaped) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte == '\t' || (byte >= 0x20 && byte < 0x7f)) << "byte " << int(byte) << " is written plainly";
    }
    EXPECT_EQ(support::unescapeText(escaped), all);
    EXPECT_EQ(support::escapeText("a\\b\r\x01"), "a\\\\b\\r\\x01");
}

TEST(TranscriptFormat, LongRunsAreWrittenAsRepeats)
{
    EXPECT_EQ(support::escapeText("format " + std::string(999, 'c') + ":"), "format \\{999*c}:");
    EXPECT_EQ(support::unescapeText("x\\{3*ab}y\\{2*\\}}"), "xabababy}}");
    EXPECT_EQ(support::escapeText(std::string(40, '}')), "\\{40*\\}}");
}

TEST(TranscriptFormat, LinesKeepTheirEndsAndCannotBeMistaken)
{
    EXPECT_EQ(support::renderText("Your inventory: \nsocks\n"),
              (std::vector<std::string>{"Your inventory: $", "socks"}));
    EXPECT_EQ(support::renderText("Proceed (Y/N)?"), (std::vector<std::string>{"Proceed (Y/N)?\\"}));
    EXPECT_EQ(support::renderText("> page text\n# not a comment\n@start\n<\nprice 5$\n\n"),
              (std::vector<std::string>{"\\> page text", "\\# not a comment", "\\@start", "\\<", "price 5\\$", ""}));
    EXPECT_EQ(support::renderText("<help more> for more detailed help\n"),
              (std::vector<std::string>{"<help more> for more detailed help"}));
}

TEST(TranscriptFormat, TypedLinesAndWhatTheGamePrintedBeforeEach)
{
    const Game game = gameOf("# d\n"
                             "Hello\n"
                             "> take socks\n"
                             "\n"
                             "Proceed (Y/N)?\\\n"
                             "< y\n"
                             ">\n"
                             "> a \\x00 b $\n"
                             "Bye\n");
    ASSERT_EQ(game.steps.size(), 4U);
    EXPECT_EQ(game.steps[0].output, "Hello\n> ");
    EXPECT_EQ(game.steps[0].read.bytes(), "take socks\n");
    EXPECT_EQ(game.steps[0].read.line, 3);
    EXPECT_EQ(game.steps[1].output, "\nProceed (Y/N)?");
    EXPECT_EQ(game.steps[1].read.bytes(), "y\n");
    EXPECT_EQ(game.steps[2].output, "> ");
    EXPECT_EQ(game.steps[2].read.bytes(), "\n");
    EXPECT_EQ(game.steps[3].read.bytes(), std::string("a \0 b \n", 7));
    EXPECT_EQ(game.finalOutput, "Bye\n");
    EXPECT_EQ(game.input(), std::string("take socks\ny\n\na \0 b \n", 21));
    EXPECT_EQ(support::answersOf(game), (std::vector<std::string>{"\nProceed (Y/N)?", "", "", "Bye\n"}));
}

TEST(TranscriptFormat, TheEndOfInput)
{
    const Game partial = gameOf("# d\n> quit^D\n");
    ASSERT_EQ(partial.steps.size(), 2U);
    EXPECT_EQ(partial.steps[0].read.bytes(), "quit");
    EXPECT_TRUE(partial.steps[1].read.end);
    EXPECT_EQ(partial.steps[1].output, "");

    // The game asks, finds the end, prints on and asks once more.
    const Game asked = gameOf("# d\nProceed?\\\n< ^D\n\n> ^D\n");
    ASSERT_EQ(asked.steps.size(), 1U);
    EXPECT_TRUE(asked.steps[0].read.end);
    EXPECT_EQ(asked.steps[0].output, "Proceed?");
    EXPECT_EQ(asked.finalOutput, "\n> ");
    EXPECT_EQ(gameOf("# d\n> literal\\^D\n").steps[0].read.bytes(), "literal^D\n");
}

TEST(TranscriptFormat, PageFileBlocksAndTheSharedStart)
{
    const support::Transcript transcript = parseTranscript("t",
                                                           "# d\n"
                                                           "@page file before\n"
                                                           "1\n"
                                                           "one $\n"
                                                           "@end\n"
                                                           "@page file read-only\n"
                                                           "@start Bob\n"
                                                           "> i\n"
                                                           "@page file after\n"
                                                           "\\@end\n"
                                                           "no line end\\\n"
                                                           "@end\n",
                                                           prefix);
    EXPECT_EQ(transcript.pageFileBefore, "1\none \n");
    EXPECT_TRUE(transcript.pageFileReadOnly);
    EXPECT_EQ(transcript.pageFileAfter, "@end\nno line end");
    ASSERT_EQ(transcript.game.steps.size(), 2U);
    EXPECT_EQ(transcript.startSteps, 1U);
    EXPECT_EQ(transcript.game.steps[0].output, "\nWhats you name?\n> ");
    EXPECT_EQ(transcript.game.steps[0].read.bytes(), "Bob\n");
    EXPECT_EQ(transcript.game.steps[1].output, "have fun again Bob\nYour Room\n> ");

    const support::Transcript welcome = parseTranscript("t", "# d\n@welcome\n> Al\\r\nhave fun again Al\n", prefix);
    EXPECT_EQ(welcome.game.steps[0].output, "\nWhats you name?\n> ");
    EXPECT_EQ(welcome.game.steps[0].read.bytes(), "Al\r\n");
}

TEST(TranscriptFormat, WrittenBackAsItWasRead)
{
    const std::string text = "# A description\n"
                             "# more about it\n"
                             "@page file before\n"
                             "7\n"
                             "seven $\n"
                             "@end\n"
                             "@start Tester\n"
                             "# a comment before a typed line\n"
                             "> write page  5\n"
                             "\n"
                             "Crrr\\\n"
                             "< y\n"
                             "> \\{40*x}\n"
                             "> quit^D\n"
                             "@page file after\n"
                             "7\n"
                             "seven $\n"
                             "5\n"
                             "five $\n"
                             "@end\n";
    const support::Transcript transcript = parseTranscript("t", text, prefix);
    EXPECT_EQ(support::renderTranscript(transcript, transcript.game, transcript.pageFileAfter), text);

    // A changed answer is written anew; the typed lines stay as they were written.
    Game changed = transcript.game;
    changed.steps[2].output = "\nCrrrsch\\\n";
    const std::string updated = support::renderTranscript(transcript, changed, transcript.pageFileAfter);
    EXPECT_NE(updated.find("\nCrrrsch\\\\\n< y\n> \\{40*x}\n"), std::string::npos) << updated;
}

TEST(TranscriptFormat, MistakesNameTheirLine)
{
    const auto error = [](const std::string& text) {
        try {
            parseTranscript("t", text, prefix);
        } catch (const TranscriptError& mistake) {
            return std::string(mistake.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(error("> look\n"), "t:1: the first line describes the transcript and starts with \"# \"");
    EXPECT_EQ(error("# d\n> \\q\n"), "t:2: unknown escape \\q");
    EXPECT_EQ(error("# d\n> ^D\n> look\n"), "t:3: nothing can be typed after the end of input (^D)");
    EXPECT_EQ(error("# d\n@page file before\n1\n"), "t:2: @page file before has no @end");
    EXPECT_EQ(error("# d\n> i\n@start Bob\n"), "t:3: @start Bob must come before the game's first line");
    EXPECT_EQ(error("# d\n@begin\n"), "t:2: unknown directive @begin");
}

} // namespace
