#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

class Item;

enum class Direction {
    NORTH = 0,
    SOUTH = 1,
    EAST = 2,
    WEST = 3,
    NORTHWEST = 4,
    NORTHEAST = 5,
    SOUTHEAST = 6,
    SOUTHWEST = 7,
};

// A direction and the words the player walks it with.
struct DirectionWords {
    Direction direction;
    std::string_view word;      // as exits are listed: "northwest"
    std::string_view shortWord; // "nw"
};

// Every direction, in the order the navigation command lists its words.
inline constexpr std::array<DirectionWords, 8> directionWords{{
    {Direction::NORTH, "north", "n"},
    {Direction::EAST, "east", "e"},
    {Direction::SOUTH, "south", "s"},
    {Direction::WEST, "west", "w"},
    {Direction::SOUTHWEST, "southwest", "sw"},
    {Direction::SOUTHEAST, "southeast", "se"},
    {Direction::NORTHWEST, "northwest", "nw"},
    {Direction::NORTHEAST, "northeast", "ne"},
}};

// The word a direction's exits are listed by ("northwest").
std::string_view directionWord(Direction direction);

class Room;

// The part of a world that can be walked to from one room.
struct RoomGraph {
    std::vector<Room*> rooms; // the start first, then the others as they are first met
    // Every open exit of those rooms, in that order, each room's in direction
    // order: the room it leaves, its direction, the room it leads to.
    std::vector<std::tuple<Room*, Direction, Room*>> exits;
};

// Walks every exit reachable from start, breadth first.
RoomGraph reachableFrom(Room* start);

// One place of the world: a name, a description, exits by direction and the
// items lying in it (not owned: items move between rooms and the inventory).
class Room {
public:
    Room(std::string name, std::string description);
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    // Sets the neighbour in a direction; a null room closes that way.
    void addExit(Direction direction, Room* room);
    // Sets the four main exits at once; a null argument leaves that one as it is.
    void setExits(Room* north, Room* east, Room* south, Room* west);
    Room* nextRoom(Direction direction) const;

    void addItem(Item* item);
    void removeItem(Item* item);
    // The first item, in the order they were put here, answering to keyword.
    Item* getItem(std::string_view keyword) const;
    const std::vector<Item*>& getItems() const { return items; }

    // The room's name.
    const std::string& shortDescription() const { return name; }
    // The full description with the items' placing sentences on the first
    // visit or when forced; otherwise the list of item names, or "".
    std::string longDescription(bool force);
    // The exits in direction order, e.g. "Exits: east south".
    std::string exitstring() const;

private:
    friend RoomGraph reachableFrom(Room* start);

    std::string name;
    std::string description;
    std::map<Direction, Room*> exits;
    std::vector<Item*> items;
    bool visited = false;
};
