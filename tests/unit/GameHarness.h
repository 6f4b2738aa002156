#pragma once

// Helpers for tests that play the weekend story in-process: a private page
// file per test, whole games from a script, and the world's rooms and items
// found the way a player would find them.

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Example.h"

namespace harness {

// A directory of its own under /tmp for the page file; removed again.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/weekend-unit-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::abort();
        }
        dir = made;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string flags() const { return dir + "/flags"; }
    const std::string& name() const { return dir; }

private:
    std::string dir;
};

// The output the game gives before its first command prompt: the welcome
// with the name prompt, the greeting and the first room.
inline std::string welcomeOf(const std::string& output)
{
    const std::size_t namePrompt = output.find("> ");
    const std::size_t firstPrompt = output.find("> ", namePrompt + 2);
    return output.substr(0, firstPrompt);
}

// Everything the game printed after the welcome, cut at the prompts: entry i
// is the answer to command line i. The last entry is what follows the final
// prompt (normally nothing).
inline std::vector<std::string> answersOf(const std::string& output)
{
    std::vector<std::string> answers;
    std::size_t from = welcomeOf(output).size();
    if (from >= output.size()) {
        return answers;
    }
    from += 2; // the first command prompt
    while (true) {
        const std::size_t prompt = output.find("> ", from);
        if (prompt == std::string::npos) {
            answers.push_back(output.substr(from));
            return answers;
        }
        answers.push_back(output.substr(from, prompt - from));
        from = prompt + 2;
    }
}

// Plays one whole game: input holds the name line and the commands.
inline std::string playGame(const std::string& input)
{
    TempDir dir;
    std::istringstream in(input);
    std::ostringstream out;
    Example game(in, out, dir.flags());
    game.init();
    game.play();
    return out.str();
}

// The answers to the given command lines, with the name "Tester".
inline std::vector<std::string> answersTo(const std::string& commands)
{
    return answersOf(playGame("Tester\n" + commands));
}

// An initialised story without the welcome, for calling the game directly.
class Story {
public:
    Story() : game(in, out, dir.flags())
    {
        game.init();
        start = game.getCurrentRoom();
    }

    Example& operator*() { return game; }
    Example* operator->() { return &game; }

    // What the game printed since the last call.
    std::string take()
    {
        std::string text = out.str();
        out.str("");
        return text;
    }

    // The room with that name, found by walking the exits from the start.
    Room* room(const std::string& roomName)
    {
        std::set<Room*> seen;
        std::deque<Room*> queue{start};
        while (!queue.empty()) {
            Room* here = queue.front();
            queue.pop_front();
            if (here == nullptr || !seen.insert(here).second) {
                continue;
            }
            if (here->shortDescription() == roomName) {
                return here;
            }
            for (int d = 0; d < 8; ++d) {
                queue.push_back(here->nextRoom(static_cast<Direction>(d)));
            }
        }
        return nullptr;
    }

    // The item answering to keyword that lies in the named room.
    Item* item(const std::string& roomName, const std::string& keyword)
    {
        Room* where = room(roomName);
        return where == nullptr ? nullptr : where->getItem(keyword);
    }

    // Feeds command lines to a parser of this game, as the input loop would.
    void command(const std::string& line)
    {
        Parser parser(&game);
        if (!parser.handleInput(line)) {
            out << "I dont understand the command.\n";
        }
    }

private:
    TempDir dir;
    std::istringstream in;
    std::ostringstream out;
    Example game;
    Room* start = nullptr;
};

// A game of the bare engine, without the story: two rooms and a few items,
// and a combineItems that only records what it was given.
struct MiniStreams {
    std::istringstream in;
    std::ostringstream out;
};

class MiniGame : public MiniStreams, public AbstractGame {
public:
    MiniGame() : AbstractGame(MiniStreams::in, MiniStreams::out) { instance = this; }

    void createRooms() override
    {
        hall = keepRoom(std::make_unique<Room>("Hall", "A long hall."));
        attic = keepRoom(std::make_unique<Room>("Attic", ""));
        hall->addExit(Direction::NORTH, attic);
        attic->addExit(Direction::SOUTH, hall);
        setCurrentRoom(hall);
    }
    void createItems() override
    {
        key = keepItem(std::make_unique<Item>(ItemType::OBJECT, true, true, "brass key",
                                              std::vector<std::string>{"key", "shiny key"}, "A key glints.",
                                              "An old brass key."));
        note = keepItem(std::make_unique<Item>(ItemType::READABLE, true, true, "note",
                                               std::vector<std::string>{"note", "paper"}, "A note is pinned up.",
                                               "Meet me at noon"));
        anvil = keepItem(std::make_unique<Item>(ItemType::OBJECT, false, false, "anvil",
                                                std::vector<std::string>{"anvil"}, "An anvil sits here.", "Heavy."));
        amulet =
            keepItem(std::make_unique<Item>(ItemType::OBJECT, true, false, "amulet", std::vector<std::string>{"amulet"},
                                            "An amulet hangs on a nail.", "It hums."));
        hall->addItem(key);
        hall->addItem(note);
        hall->addItem(anvil);
        hall->addItem(amulet);
    }
    void combineItems(Item* first, Item* second) override
    {
        ++combined;
        lastFirst = first;
        lastSecond = second;
    }

    // Feeds one line to a parser of this game.
    bool line(const std::string& text)
    {
        Parser parser(this);
        return parser.handleInput(text);
    }
    std::string take()
    {
        std::string text = MiniStreams::out.str();
        MiniStreams::out.str("");
        return text;
    }

    Room* hall = nullptr;
    Room* attic = nullptr;
    Item* key = nullptr;
    Item* note = nullptr;
    Item* anvil = nullptr;
    Item* amulet = nullptr;
    int combined = 0;
    Item* lastFirst = nullptr;
    Item* lastSecond = nullptr;
};

} // namespace harness
