// The town map: the edges weekend_map prints, and those drawn in
// docs/map.svg, are exactly the exits of the world a new game builds.

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "GameHarness.h"

namespace {

using Exit = std::tuple<std::string, std::string, std::string>; // from, direction word, to

// The exits of every room reachable from the start, as a new game builds them.
std::set<Exit> worldExits(std::size_t& roomCount)
{
    support::Story story;
    const RoomGraph town = reachableFrom(story->getCurrentRoom());
    std::set<Exit> exits;
    for (const auto& [from, direction, to] : town.exits) {
        exits.emplace(from->shortDescription(), directionWord(direction), to->shortDescription());
    }
    roomCount = town.rooms.size();
    return exits;
}

std::string readAll(std::FILE* stream)
{
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), stream)) > 0) {
        text.append(buffer, got);
    }
    return text;
}

std::string unescapeXml(std::string text)
{
    for (const auto& [entity, plain] : {std::pair{"&#45;", "-"}, std::pair{"&gt;", ">"}, std::pair{"&lt;", "<"},
                                        std::pair{"&quot;", "\""}, std::pair{"&amp;", "&"}}) {
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
            text.replace(at, std::string(entity).size(), plain);
        }
    }
    return text;
}

TEST(TownMap, HasAnEdgeForEveryExitAndNoOther)
{
    std::size_t rooms = 0;
    const std::set<Exit> exits = worldExits(rooms);
    EXPECT_EQ(rooms, 14U);
    EXPECT_EQ(exits.size(), 26U);

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> map(popen(WEEKEND_MAP, "r"), pclose);
    ASSERT_NE(map, nullptr);
    const std::string dot = readAll(map.get());
    const std::regex edge(R"re(\s*"([^"]*)" -> "([^"]*)" \[label="([a-z]+)"\];)re");
    const std::regex node(R"re(\s*"([^"]*)"( \[.*\])?;)re");
    std::set<Exit> drawn;
    std::set<std::string> nodes;
    std::size_t edgeLines = 0;
    std::istringstream lines(dot);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, edge)) {
            drawn.emplace(match[1], match[3], match[2]);
            ++edgeLines;
        } else if (std::regex_match(line, match, node)) {
            nodes.insert(match[1]);
        }
    }
    EXPECT_EQ(drawn, exits);
    EXPECT_EQ(edgeLines, exits.size()) << "an exit is drawn twice";
    EXPECT_EQ(nodes.size(), rooms);
}

TEST(TownMap, PictureInTheDocsIsUpToDate)
{
    std::size_t rooms = 0;
    const std::set<Exit> exits = worldExits(rooms);
    std::ifstream file(WEEKEND_SOURCE_DIR "/docs/map.svg");
    ASSERT_TRUE(file) << "docs/map.svg is missing; the target map_svg draws it";
    std::stringstream svg;
    svg << file.rdbuf();
    // Graphviz writes each edge as a group: its title "FROM->TO", then the
    // path and arrow head, then the label's text.
    const std::regex edge(
        R"re(<g id="edge\d+" class="edge">\s*<title>(.*?)&#45;&gt;(.*?)</title>[\s\S]*?<text[^>]*>([a-z]+)</text>)re");
    std::set<Exit> drawn;
    std::size_t groups = 0;
    const std::string text = svg.str();
    for (std::sregex_iterator it(text.begin(), text.end(), edge), end; it != end; ++it) {
        drawn.emplace(unescapeXml((*it)[1]), (*it)[3], unescapeXml((*it)[2]));
        ++groups;
    }
    EXPECT_EQ(drawn, exits) << "redraw it with the target map_svg";
    EXPECT_EQ(groups, exits.size());
}

} // namespace
