#include "GameHarness.h"

#include <algorithm>
#include <map>
#include <utility>

#include "Parser.h"
#include "Transcript.h"

namespace support {

LineFeeder::LineFeeder(std::string input, std::ostringstream& output) : text(std::move(input)), out(output) {}

LineFeeder::int_type LineFeeder::underflow()
{
    // The game has flushed what it printed before it reads.
    readAt.push_back(static_cast<std::size_t>(out.tellp()));
    if (next >= text.size()) {
        return traits_type::eof();
    }
    const std::size_t lineEnd = text.find('\n', next);
    const std::size_t end = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
    char* base = text.data();
    setg(base + next, base + next, base + end);
    next = end;
    return traits_type::to_int_type(*gptr());
}

ScriptedGame::ScriptedGame(const std::string& input, const std::string& pageFile)
    : feeder(input, out), in(&feeder), game(in, out, pageFile)
{
}

void ScriptedGame::play()
{
    game.init();
    game.play();
}

std::vector<std::string> ScriptedGame::answers() const
{
    // Read 0 is the name; each command's answer runs from its read to the next.
    const std::string all = out.str();
    const std::vector<std::size_t>& reads = feeder.reads();
    std::vector<std::string> answers;
    for (std::size_t i = 1; i < reads.size(); ++i) {
        const std::size_t end = i + 1 < reads.size() ? reads[i + 1] : all.size();
        const std::string_view answer = std::string_view(all).substr(reads[i], end - reads[i]);
        answers.emplace_back(i + 1 < reads.size() ? splitPrompt(answer).text : answer);
    }
    return answers;
}

PlayedGame playGame(const std::string& input)
{
    TempDir dir;
    ScriptedGame game(input, dir.flags());
    game.play();
    return {game.output(), game.answers()};
}

std::vector<std::string> answersTo(const std::string& commands) { return playGame("Tester\n" + commands).answers; }

std::string walkTo(const std::string& roomName)
{
    // The walk meets each room first by one of its shortest ways.
    Story story;
    Room* const start = story->getCurrentRoom();
    std::map<Room*, std::string> way{{start, ""}};
    for (const auto& [from, direction, to] : reachableFrom(start).exits) {
        way.emplace(to, way[from] + std::string(directionWord(direction)) + "\n");
    }
    Room* const room = story.room(roomName);
    return room == nullptr ? "" : way[room];
}

Story::Story() : game(in, out, dir.flags())
{
    game.init();
    start = game.getCurrentRoom();
}

std::string Story::take()
{
    std::string text = out.str();
    out.str("");
    return text;
}

Room* Story::room(const std::string& roomName)
{
    const std::vector<Room*> rooms = reachableFrom(start).rooms;
    const auto found = std::find_if(rooms.begin(), rooms.end(),
                                    [&roomName](const Room* room) { return room->shortDescription() == roomName; });
    return found == rooms.end() ? nullptr : *found;
}

Item* Story::item(const std::string& roomName, const std::string& keyword)
{
    Room* where = room(roomName);
    return where == nullptr ? nullptr : where->getItem(keyword);
}

void Story::command(const std::string& line)
{
    Parser parser(&game);
    if (!parser.handleInput(line)) {
        out << "I dont understand the command.\n";
    }
}

void MiniGame::createRooms()
{
    hall = keepRoom(std::make_unique<Room>("Hall", "A long hall."));
    attic = keepRoom(std::make_unique<Room>("Attic", ""));
    hall->addExit(Direction::NORTH, attic);
    attic->addExit(Direction::SOUTH, hall);
    setCurrentRoom(hall);
}

void MiniGame::createItems()
{
    key = keepItem(std::make_unique<Item>(ItemType::OBJECT, true, true, "brass key",
                                          std::vector<std::string>{"key", "shiny key"}, "A key glints.",
                                          "An old brass key."));
    note = keepItem(std::make_unique<Item>(ItemType::READABLE, true, true, "note",
                                           std::vector<std::string>{"note", "paper"}, "A note is pinned up.",
                                           "Meet me at noon"));
    anvil = keepItem(std::make_unique<Item>(ItemType::OBJECT, false, false, "anvil", std::vector<std::string>{"anvil"},
                                            "An anvil sits here.", "Heavy."));
    amulet =
        keepItem(std::make_unique<Item>(ItemType::OBJECT, true, false, "amulet", std::vector<std::string>{"amulet"},
                                        "An amulet hangs on a nail.", "It hums."));
    hall->addItem(key);
    hall->addItem(note);
    hall->addItem(anvil);
    hall->addItem(amulet);
}

void MiniGame::combineItems(Item* first, Item* second)
{
    ++combined;
    lastFirst = first;
    lastSecond = second;
}

bool MiniGame::line(const std::string& text)
{
    Parser parser(this);
    return parser.handleInput(text);
}

std::string MiniGame::take()
{
    std::string text = MiniStreams::out.str();
    MiniStreams::out.str("");
    return text;
}

} // namespace support
