#include "NavigateCommand.h"

#include <array>
#include <string_view>
#include <utility>

#include "AbstractGame.h"

namespace {

// The direction words in the order the detailed help lists them.
constexpr std::array<std::pair<std::string_view, Direction>, 16> directionWords{{
    {"north", Direction::NORTH},
    {"east", Direction::EAST},
    {"south", Direction::SOUTH},
    {"west", Direction::WEST},
    {"southwest", Direction::SOUTHWEST},
    {"southeast", Direction::SOUTHEAST},
    {"northwest", Direction::NORTHWEST},
    {"northeast", Direction::NORTHEAST},
    {"n", Direction::NORTH},
    {"e", Direction::EAST},
    {"s", Direction::SOUTH},
    {"w", Direction::WEST},
    {"sw", Direction::SOUTHWEST},
    {"se", Direction::SOUTHEAST},
    {"nw", Direction::NORTHWEST},
    {"ne", Direction::NORTHEAST},
}};

} // namespace

std::vector<std::string> NavigateCommand::getRecognizedCommands()
{
    std::vector<std::string> words;
    words.reserve(directionWords.size());
    for (const auto& entry : directionWords) {
        words.emplace_back(entry.first);
    }
    return words;
}

int NavigateCommand::execute(Command command)
{
    // Only words of the list above are dispatched here; arguments are ignored.
    for (const auto& [word, direction] : directionWords) {
        if (word == command.getCommandWord()) {
            AbstractGame::instance->goInDirection(direction);
            break;
        }
    }
    return 0;
}
