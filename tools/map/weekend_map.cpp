// Prints the town of the weekend story as a Graphviz graph: one node per
// room, one edge per exit, labelled with the direction word that walks it.
// The world is built in-process exactly as a new game builds it, so the map
// shows the exits open at the start.
//
//   weekend_map > town.dot && dot -Tsvg town.dot > docs/map.svg

#include <array>
#include <deque>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Example.h"

namespace {

struct Way {
    Direction direction;
    const char* word; // what the player types
};

// In the order a room's exits are listed by the game.
constexpr std::array<Way, 8> ways{{
    {Direction::NORTH, "north"},
    {Direction::SOUTH, "south"},
    {Direction::EAST, "east"},
    {Direction::WEST, "west"},
    {Direction::NORTHWEST, "northwest"},
    {Direction::NORTHEAST, "northeast"},
    {Direction::SOUTHEAST, "southeast"},
    {Direction::SOUTHWEST, "southwest"},
}};

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

} // namespace

int main()
{
    std::istringstream noInput;
    std::ostringstream ignored;
    // The map never hides or searches pages; the path is only a placeholder.
    Example game(noInput, ignored, "/nonexistent/flags");
    game.init();

    // Every room reachable from the start, in the order they are first met.
    std::vector<Room*> rooms{game.getCurrentRoom()};
    std::map<Room*, std::size_t> seen{{rooms.front(), 0}};
    std::deque<Room*> queue{rooms.front()};
    std::ostringstream edges;
    while (!queue.empty()) {
        Room* room = queue.front();
        queue.pop_front();
        for (const Way& way : ways) {
            Room* next = room->nextRoom(way.direction);
            if (next == nullptr) {
                continue;
            }
            if (seen.emplace(next, rooms.size()).second) {
                rooms.push_back(next);
                queue.push_back(next);
            }
            edges << "  " << quoted(room->shortDescription()) << " -> " << quoted(next->shortDescription())
                  << " [label=" << quoted(way.word) << "];\n";
        }
    }

    std::cout << "// The town of the weekend story: every room, and every exit open at the start.\n"
              << "digraph town {\n"
              << "  graph [rankdir=LR, fontname=\"sans-serif\"];\n"
              << "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4efe1\", fontname=\"sans-serif\"];\n"
              << "  edge [fontname=\"sans-serif\", fontsize=10, color=\"#555555\"];\n";
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        std::cout << "  " << quoted(rooms[i]->shortDescription())
                  << (i == 0 ? " [penwidth=2, tooltip=\"where the game starts\"]" : "") << ";\n";
    }
    std::cout << edges.str() << "}\n";
    return 0;
}
