#include "Room.h"

#include <algorithm>
#include <array>
#include <set>
#include <utility>

#include "Item.h"

std::string_view directionWord(Direction direction)
{
    const auto found = std::find_if(directionWords.begin(), directionWords.end(),
                                    [direction](const DirectionWords& words) { return words.direction == direction; });
    return found == directionWords.end() ? std::string_view() : found->word;
}

RoomGraph reachableFrom(Room* start)
{
    RoomGraph graph{{start}, {}};
    std::set<Room*> seen{start};
    for (std::size_t next = 0; next < graph.rooms.size(); ++next) {
        Room* const from = graph.rooms[next];
        for (const auto& [direction, to] : from->exits) {
            if (to == nullptr) {
                continue;
            }
            graph.exits.emplace_back(from, direction, to);
            if (seen.insert(to).second) {
                graph.rooms.push_back(to);
            }
        }
    }
    return graph;
}

Room::Room(std::string name, std::string description) : name(std::move(name)), description(std::move(description)) {}

void Room::addExit(Direction direction, Room* room) { exits[direction] = room; }

void Room::setExits(Room* north, Room* east, Room* south, Room* west)
{
    const std::array<std::pair<Direction, Room*>, 4> given{
        {{Direction::NORTH, north}, {Direction::EAST, east}, {Direction::SOUTH, south}, {Direction::WEST, west}}};
    for (const auto& [direction, room] : given) {
        if (room != nullptr) {
            exits[direction] = room;
        }
    }
}

Room* Room::nextRoom(Direction direction) const
{
    const auto found = exits.find(direction);
    return found == exits.end() ? nullptr : found->second;
}

void Room::addItem(Item* item) { items.push_back(item); }

void Room::removeItem(Item* item)
{
    const auto found = std::find(items.begin(), items.end(), item);
    if (found != items.end()) {
        items.erase(found);
    }
}

Item* Room::getItem(std::string_view keyword) const
{
    const auto found =
        std::find_if(items.begin(), items.end(), [keyword](const Item* item) { return item->keywordMatch(keyword); });
    return found == items.end() ? nullptr : *found;
}

std::string Room::longDescription(bool force)
{
    std::string text;
    if (!description.empty() && (!visited || force)) {
        visited = true;
        text = description;
        for (const Item* item : items) {
            text += '\n';
            if (item->wasDropped()) {
                text += "A ";
                text += item->getName();
                text += " is lying on the ground";
            } else {
                text += item->getOriginalDescription();
            }
        }
        return text;
    }
    for (const Item* item : items) {
        text += '\n';
        text += item->getName();
    }
    return text.empty() ? text : "\nThe room contains:" + text;
}

std::string Room::exitstring() const
{
    std::string text = "Exits:";
    for (const auto& [direction, room] : exits) {
        if (room != nullptr) {
            text += ' ';
            text += directionWord(direction);
        }
    }
    return text;
}
