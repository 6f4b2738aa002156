#pragma once

#include <map>
#include <string>
#include <string_view>
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
    std::string name;
    std::string description;
    std::map<Direction, Room*> exits;
    std::vector<Item*> items;
    bool visited = false;
};
