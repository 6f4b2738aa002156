// The in-process harness: answers are cut where each line was read, not at
// every "> " in the text, and the walk to a room is found on the map.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "GameHarness.h"

namespace {

TEST(Harness, AnAnswerHoldingAPromptStaysWhole)
{
    const std::vector<std::string> answers = support::answersTo("help\ni\n");
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_EQ(answers[0].rfind("\n<help more> for more detailed help\nThe available commands are:\n", 0), 0U);
    EXPECT_EQ(answers[1], "\nYour inventory is empty\n");
    EXPECT_EQ(answers[2], "") << "the game asked again and found the input's end";
}

TEST(Harness, TheWalkToTheLibrary)
{
    const std::string walk = support::walkTo("Old mysterious Library");
    EXPECT_EQ(walk, "east\nnortheast\neast\n");
    support::Story story;
    std::istringstream steps(walk);
    for (std::string step; std::getline(steps, step);) {
        story.command(step);
    }
    EXPECT_EQ(story->getCurrentRoom(), story.room("Old mysterious Library"));
    EXPECT_EQ(support::walkTo("Your Room"), "");
    EXPECT_EQ(support::walkTo("Nowhere"), "");
}

} // namespace
