// Every text the game can print is seen by some transcript: each string
// literal of engine/ and story/ (world tables, combination texts, handler
// messages) must appear in the expected output of a transcript, unless it
// is listed below as never printed.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"
#include "SourceStrings.h"
#include "Transcript.h"

namespace {

namespace fs = std::filesystem;

// Literals that are never printed as they stand, and why. A literal listed
// here that some transcript shows after all must leave the list; one that
// left the sources may stay until someone tidies up.
const std::map<std::string, std::string> notPrinted = {
    {"quit", "typed by the player to end the game"},
    {"exit", "typed by the player to end the game"},
    {"myself", "typed by the player as the target of kill"},
    {"garden shovel", "an item keyword, typed by the player"},
    {"dead woman", "an item keyword, typed by the player"},
    {"woman", "an item keyword, typed by the player"},
    {"usp", "an item keyword, typed by the player"},
    {"Exits:", "the engine's list of exits, which the story never shows"},
    {"It reads: \n\n", "examining a readable item; the story has none"},
    {"\n\"", "reading a readable item; the story has none"},
    {"\"\n\n", "reading a readable item; the story has none"},
    {"pages out of the big old book", "the page item's sentence for a room; the item can never be dropped"},
    {"/home/flags", "the page file's path"},
    {"/proc/self/cgroup", "where the game reads its control group, for its memory limit"},
    {"0::", "where the game reads its control group, for its memory limit"},
    {"/sys/fs/cgroup", "where the game reads its control group's memory limit"},
    {"/memory.max", "where the game reads its control group's memory limit"},
    {"That line is too long for me, try a shorter one...",
     "shown only for a line past the memory limit; the bad-input unit tests and the page store's memory-limit test "
     "show it"},
    {"weekend: cut ", "written on standard error; the page store's tests check it"},
    {" bytes of an unfinished record off the end of ", "written on standard error; the page store's tests check it"},
    {"weekend: cannot hide a page in ", "written on standard error; the page file's unit tests check it"},
    {"weekend: cannot read the pages in ", "written on standard error; the page file's unit tests check it"},
    {"the file has reached the size limit for files", "a cause written on standard error"},
    {"the disk is full", "a cause written on standard error"},
    {"the disk quota is used up", "a cause written on standard error"},
    {"the game may not write it", "a cause written on standard error"},
    {"the game may not read it", "a cause written on standard error"},
    {"its file system has lost its connection", "a cause written on standard error"},
    {"the file system is read-only", "a cause written on standard error"},
    {"its folder does not exist", "a cause written on standard error"},
    {"it is a folder", "a cause written on standard error"},
    {"it is not a regular file", "a cause written on standard error"},
    {"the page text holds a line end", "a cause written on standard error"},
    {"another game has held it locked for ", "a cause written on standard error"},
    {" ms", "a cause written on standard error"},
};

std::string allExpectedOutput()
{
    const fs::path dir = fs::path(WEEKEND_SOURCE_DIR) / "tests" / "transcripts";
    const std::optional<std::string> prefix = support::readFile((dir / "start.prefix").string());
    std::string all;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".transcript") {
            continue;
        }
        const std::optional<std::string> text = support::readFile(entry.path().string());
        all +=
            support::parseTranscript(entry.path().string(), text.value_or(""), support::prefixBody(prefix.value_or("")))
                .game.output();
    }
    return all;
}

TEST(StoryTexts, EveryTextAppearsInSomeTranscript)
{
    const std::string output = allExpectedOutput();
    ASSERT_FALSE(output.empty());
    std::size_t checked = 0;
    for (const char* part : {"engine", "story"}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(WEEKEND_SOURCE_DIR) / part)) {
            const std::string file = entry.path().string();
            if (entry.path().extension() != ".cpp" && entry.path().extension() != ".h") {
                continue;
            }
            for (const support::SourceString& literal : support::stringLiterals(support::readFile(file).value_or(""))) {
                ++checked;
                if (output.find(literal.text) != std::string::npos) {
                    continue;
                }
                EXPECT_EQ(notPrinted.count(literal.text), 1U)
                    << part << "/" << entry.path().filename().string() << ":" << literal.line
                    << ": no transcript shows \"" << support::escapeText(literal.text) << "\"";
            }
        }
    }
    EXPECT_GT(checked, 100U) << "the sources were found and read";
    for (const auto& [text, why] : notPrinted) {
        EXPECT_EQ(output.find(text), std::string::npos)
            << "\"" << support::escapeText(text) << "\" (" << why << ") is shown by a transcript: take it off the list";
    }
}

TEST(SourceStrings, JoinsAdjacentLiteralsAndResolvesEscapes)
{
    const std::string source = "#include \"skipped.h\"\n"
                               "// \"not this\"\n"
                               "const char* a = \"one \" /* \"nor this\" */ \"two\\n\"\n"
                               "    \"three\\t\\\"q\\\"\\x41\\101\";\n"
                               "char c = '\"'; char d = '\\'';\n"
                               "f(\"x\", \"y\");\n";
    const std::vector<support::SourceString> found = support::stringLiterals(source);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0].text, "one two\nthree\t\"q\"AA");
    EXPECT_EQ(found[0].line, 3);
    EXPECT_EQ(found[1].text, "x");
    EXPECT_EQ(found[2].text, "y");
    EXPECT_EQ(found[2].line, 6);
}

} // namespace
