// The write, hide and search commands played in-process, with the page file
// in a private temporary directory.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Example.h"
#include "Files.h"
#include "GameHarness.h"
#include "Item.h"
#include "Pages.h"

namespace {

const std::string block1 = "\nThis is page nr. 1 of the big old book and it reads:\n\n\t\"one \"";
const std::string block12 = "\nThis is page nr. 12 of the big old book and it reads:\n\n\t\"twelve \"";
const std::string lookout = "quick look to the left.....\nquick look to the right.....  ";
const std::string hidden = lookout + "Nobody there\nPerfect, no one will ever find it\n";

class PageCommandsTest : public ::testing::Test {
protected:
    // Plays the commands in the library with the book carried; returns the
    // answer to each command, without the empty line that opens it.
    std::vector<std::string> play(const std::vector<std::string>& commands)
    {
        const std::string toBook = support::walkTo("Old mysterious Library") + "take book\n";
        std::string script = "Tester\n" + toBook;
        for (const std::string& command : commands) {
            script += command + '\n';
        }
        game = std::make_unique<support::ScriptedGame>(script, path);
        game->play();
        const std::vector<std::string> all = game->answers();
        const auto skipped = static_cast<std::ptrdiff_t>(std::count(toBook.begin(), toBook.end(), '\n'));
        std::vector<std::string> answers;
        for (auto answer = all.begin() + skipped; answer != all.end() && answers.size() < commands.size(); ++answer) {
            answers.push_back(answer->substr(answer->empty() || answer->front() != '\n' ? 0 : 1));
        }
        return answers;
    }
    Item* pageItem() const { return (*game)->getInventoryItem("page"); }
    std::string contents() const { return support::readFile(path).value_or(""); }

    support::TempDir dir;
    std::string path = dir.flags();
    std::unique_ptr<support::ScriptedGame> game;
};

TEST_F(PageCommandsTest, WriteRefusals)
{
    const auto answers =
        play({"write page 5", "write on page 5 hi", "write Page 5 hi", "write page 0 hi", "write page abc hi",
              "write page -1 hi", "write page -0 hi", "write page 18446744073709551616 hi"});
    EXPECT_EQ(answers,
              (std::vector<std::string>{"On which page you want to write what?\n", "You cannot write on that...\n",
                                        "You cannot write on that...\n", "You cannot write on that...\n",
                                        "Thats not a page number\n", "Thats not a page number\n",
                                        "Thats not a page number\n", "Thats not a page number\n"}));
    EXPECT_EQ(pageItem(), nullptr);
    EXPECT_TRUE(pages.empty());
}

TEST_F(PageCommandsTest, WritingTearsOutPages)
{
    const auto answers = play({"write page +5 the  end", "write-on page 12abc x", "write page 5 again"});
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_EQ(answers[0], "Crrrsccccccchht you ripped that page out of the book\n"
                          "The 1 page(s) out of the book was added to your inventory\n");
    EXPECT_EQ(answers[1], "Crrrsccccccchht you ripped that page out of the book\n");
    ASSERT_EQ(pages.size(), 3U);
    EXPECT_EQ(pages[0].number, 5U);
    EXPECT_EQ(pages[0].text, "the end ");
    EXPECT_EQ(pages[1].number, 12U);
    EXPECT_EQ(pageItem()->getName(), "3 page(s) out of the book");
    EXPECT_EQ(pageItem()->getOriginalDescription(), "pages out of the big old book");
    EXPECT_FALSE(pageItem()->canDrop());
    EXPECT_EQ(pageItem()->examine(), pageDetails(pages));
    EXPECT_NE(pageItem()->examine().find("page nr. +5 of"), std::string::npos);
}

TEST_F(PageCommandsTest, HidingRemovesExactlyTheHiddenPagesBlock)
{
    // Page 1 must not take the block of page 12 with it, and a page typed
    // as 007 loses its block too.
    const auto answers =
        play({"write page 12 twelve", "write page 1 one", "write page 007 seven", "hide page 2", "hide the page 2"});
    ASSERT_EQ(answers.size(), 5U);
    EXPECT_EQ(answers[3], hidden);
    EXPECT_EQ(answers[4], hidden);
    EXPECT_EQ(pageItem()->examine(), block12);
    EXPECT_EQ(pageItem()->getName(), "1 page(s) out of the book");
    EXPECT_EQ(contents(), "1\none \n7\nseven \n");
}

TEST_F(PageCommandsTest, SameNumberTwiceKeepsTheRightBlock)
{
    play({"write page 1 one", "write page 1 other", "hide page 2"});
    EXPECT_EQ(pageItem()->examine(), block1);
    EXPECT_EQ(contents(), "1\nother \n");
}

TEST_F(PageCommandsTest, HideRefusalsChangeNothing)
{
    const auto answers =
        play({"hide page 1", "write page 1 one", "write page 12 twelve", "hide", "hide pages", "hide book 1",
              "hide page 3", "hide page 0", "hide page x", "hide pages 1 3", "hide pages 1 to", "hide pages 2 1",
              "hide pages 0 1", "hide pages 1 to y", "hide pages -1 -2"});
    EXPECT_EQ(answers, (std::vector<std::string>{
                           "You dont have pages to hide...\n",
                           "Crrrsccccccchht you ripped that page out of the book\n"
                           "The 1 page(s) out of the book was added to your inventory\n",
                           "Crrrsccccccchht you ripped that page out of the book\n",
                           "Where do you want to hide what?\n",
                           "Where do you want to hide what?\n",
                           "Thats kinda obvious, isnt it? Maybe you should hide pages between pages...\n",
                           "You dont have that many pages...\n",
                           "You dont have that many pages...\n",
                           "Thats not a page number\n",
                           "You don't have that many pages...\n",
                           "Up to what page? ...\n",
                           "That is no run of pages, count them again...\n",
                           "That is no run of pages, count them again...\n",
                           "Thats not a page number\n",
                           "That is no run of pages, count them again...\n",
                       }));
    EXPECT_EQ(pages.size(), 2U);
    EXPECT_EQ(pageItem()->examine(), block1 + block12);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PageCommandsTest, HidingARun)
{
    const auto answers = play({"write page 5 a", "write page 6 b", "write page 7 c", "write page 8 d",
                               "hide pages 2 to 3 and more", "hide pages 1 2"});
    ASSERT_EQ(answers.size(), 6U);
    const std::string twice =
        lookout + "Nobody there\n" + lookout + "Nobody there\nPerfect, no one will ever find it\n";
    EXPECT_EQ(answers[4], twice);
    EXPECT_EQ(answers[5], twice);
    EXPECT_EQ(contents(), "6\nb \n7\nc \n5\na \n8\nd \n");
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(pageItem()->getName(), "0 page(s) out of the book");
    EXPECT_EQ(pageItem()->examine(), "");
}

TEST_F(PageCommandsTest, AFailingPageEndsTheRunAndStays)
{
    // The file may hold the first record only.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const auto answers = play({"write page 1 one", "write page 12 twelve", "write page 3 three", "hide pages 1 3"});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_EQ(answers.size(), 4U);
    EXPECT_EQ(answers[3],
              lookout + "Nobody there\n" + lookout + "You cannot hide yet, someone is arround ghosting you\n");
    EXPECT_EQ(contents(), "1\none \n");
    ASSERT_EQ(pages.size(), 2U);
    EXPECT_EQ(pages[0].number, 12U);
    EXPECT_EQ(pageItem()->getName(), "2 page(s) out of the book");
    EXPECT_EQ(pageItem()->examine().substr(0, block12.size()), block12);
}

TEST_F(PageCommandsTest, APageThatCannotBeHiddenStays)
{
    path = dir.name() + "/missing/flags";
    const auto answers = play({"write page 1 one", "hide page 1", "search 1"});
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_EQ(answers[1], lookout + "You cannot hide yet, someone is arround ghosting you\n");
    EXPECT_EQ(answers[2], lookout + "Nobody there\n\nThere is nothing to find.\n");
    EXPECT_EQ(pages.size(), 1U);
    EXPECT_EQ(pageItem()->examine(), block1);
}

TEST_F(PageCommandsTest, Searching)
{
    ASSERT_TRUE(support::writeFile(path, "1337\nsome words \n7\nfirst \n7\nsecond \n"));
    const auto answers = play({"search 1337", "search 7", "search 007", "search the 7", "search", "write page 9 x",
                               "use book on page", "search"});
    const std::string seen = lookout + "Nobody there\n\n";
    EXPECT_EQ(
        answers,
        (std::vector<std::string>{
            seen + "some words \n\n", seen + "first \n\n", seen + "There is nothing to find.\n\n", seen + "first \n\n",
            "Where do you want to search something?\n" + seen + "some words \n\nfirst \n\nsecond \n\n\n\n",
            "Crrrsccccccchht you ripped that page out of the book\n"
            "The 1 page(s) out of the book was added to your inventory\n",
            "Those items can't be used in that fashion\n", "Where do you want to search something?\n"}));
}

TEST_F(PageCommandsTest, ControlBytesOfAnotherPlayersPageShowAsQuestionMarks)
{
    const std::string typed =
        std::string("\x1b[2J\x1b[31mred\x07 nul") + '\0' + "byte del\x7f caf\xc3\xa9 \x1b]0;title\x07";
    const std::string shown = "?[2J?[31mred? nul?byte del? caf\xc3\xa9 ?]0;title? ";
    const auto writer = play({"write page 31337 " + typed, "examine page", "hide page 1"});
    // The writer sees their own page as typed, and the file keeps it so.
    EXPECT_NE(writer[1].find(typed + " \""), std::string::npos);
    EXPECT_EQ(contents(), "31337\n" + typed + " \n");
    const auto reader = play({"search 31337", "search"});
    const std::string seen = lookout + "Nobody there\n\n";
    EXPECT_EQ(reader, (std::vector<std::string>{seen + shown + "\n\n", "Where do you want to search something?\n" +
                                                                           seen + shown + "\n\n\n\n"}));
}

TEST_F(PageCommandsTest, EachGameStartsWithoutPages)
{
    play({"write page 1 one"});
    EXPECT_EQ(pages.size(), 1U);
    play({});
    EXPECT_TRUE(pages.empty());
}

} // namespace
