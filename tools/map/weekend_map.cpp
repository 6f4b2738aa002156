// Prints the town of the weekend story as a Graphviz graph: one node per
// room, one edge per exit, labelled with the direction word that walks it.
// The world is built in-process exactly as a new game builds it, so the map
// shows the exits open at the start.
//
//   weekend_map > town.dot && dot -Tsvg town.dot > docs/map.svg

#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "Example.h"

namespace {

std::string quoted(std::string_view text)
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

    // Every room and every exit that can be walked to from the start.
    const RoomGraph town = reachableFrom(game.getCurrentRoom());

    std::cout << "// The town of the weekend story: every room, and every exit open at the start.\n"
              << "digraph town {\n"
              << "  graph [rankdir=LR, fontname=\"sans-serif\"];\n"
              << "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4efe1\", fontname=\"sans-serif\"];\n"
              << "  edge [fontname=\"sans-serif\", fontsize=10, color=\"#555555\"];\n";
    for (std::size_t i = 0; i < town.rooms.size(); ++i) {
        std::cout << "  " << quoted(town.rooms[i]->shortDescription())
                  << (i == 0 ? " [penwidth=2, tooltip=\"where the game starts\"]" : "") << ";\n";
    }
    for (const auto& [from, direction, to] : town.exits) {
        std::cout << "  " << quoted(from->shortDescription()) << " -> " << quoted(to->shortDescription())
                  << " [label=" << quoted(directionWord(direction)) << "];\n";
    }
    std::cout << "}\n";
    return 0;
}
