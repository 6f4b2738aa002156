#pragma once

// Helpers for tests that play the weekend story in-process: whole games
// from a script, cut into answers where each line was read, the way to a
// room, the world's rooms and items found the way a player would find them,
// and a bare-engine game without the story.

#include <cstddef>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "Example.h"
#include "Files.h"

namespace support {

// Input for a game: one line per read, noting how much the game had
// printed by each read. So the output can be cut exactly where a line was
// fed, however much "> " the text itself holds.
class LineFeeder : public std::streambuf {
public:
    LineFeeder(std::string input, std::ostringstream& output);

    // The output's length each time the game asked for more input (the
    // last time, if it asked after the input ended, it found the end).
    const std::vector<std::size_t>& reads() const { return readAt; }

protected:
    int_type underflow() override;

private:
    std::string text;
    std::size_t next = 0;
    std::ostringstream& out;
    std::vector<std::size_t> readAt;
};

// A story game fed from a script, with its page file where the caller says.
class ScriptedGame {
public:
    ScriptedGame(const std::string& input, const std::string& pageFile);
    ScriptedGame(const ScriptedGame&) = delete;
    ScriptedGame& operator=(const ScriptedGame&) = delete;

    // Plays the whole game: the welcome with the name, then the commands.
    void play();
    Example& operator*() { return game; }
    Example* operator->() { return &game; }
    std::string output() const { return out.str(); }
    // The answers to the command lines: entry i is what the game printed
    // after reading command i, up to its next prompt; the last entry is what
    // follows the final read (normally nothing).
    std::vector<std::string> answers() const;

private:
    std::ostringstream out;
    LineFeeder feeder;
    std::istream in;
    Example game;
};

struct PlayedGame {
    std::string output;
    std::vector<std::string> answers; // as ScriptedGame::answers
};

// Plays one whole game with a page file of its own: input holds the name
// line and the commands.
PlayedGame playGame(const std::string& input);

// The answers to the given command lines, with the name "Tester".
std::vector<std::string> answersTo(const std::string& commands);

// The commands that walk from the first room to the named one, one per
// line ("east\nnortheast\neast\n" to the library), found on the map.
std::string walkTo(const std::string& roomName);

// An initialised story without the welcome, for calling the game directly.
class Story {
public:
    Story();

    Example& operator*() { return game; }
    Example* operator->() { return &game; }

    // What the game printed since the last call.
    std::string take();
    // The room with that name, found by walking the exits from the start.
    Room* room(const std::string& roomName);
    // The item answering to keyword that lies in the named room.
    Item* item(const std::string& roomName, const std::string& keyword);
    // Feeds command lines to a parser of this game, as the input loop would.
    void command(const std::string& line);

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

    void createRooms() override;
    void createItems() override;
    void combineItems(Item* first, Item* second) override;

    // Feeds one line to a parser of this game.
    bool line(const std::string& text);
    std::string take();

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

} // namespace support
