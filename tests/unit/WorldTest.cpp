// Rooms, items and the inventory, and the base handlers that move items
// about, on a small game of the bare engine.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GameHarness.h"

namespace {

std::unique_ptr<Item> makeItem(const std::string& name, std::vector<std::string> keywords,
                               const std::string& placing = "", bool canInventory = true, bool canDrop = true)
{
    return std::make_unique<Item>(ItemType::OBJECT, canInventory, canDrop, name, std::move(keywords), placing,
                                  name + " details");
}

} // namespace

TEST(Room, FullDescriptionOnceThenItemList)
{
    Room room("Cellar", "A damp cellar.");
    const auto rope = makeItem("rope", {"rope"}, "A rope is coiled up.");
    const auto lamp = makeItem("lamp", {"lamp"}, "A lamp hangs here.");
    room.addItem(rope.get());
    room.addItem(lamp.get());

    EXPECT_EQ(room.longDescription(false), "A damp cellar.\nA rope is coiled up.\nA lamp hangs here.");
    EXPECT_EQ(room.longDescription(false), "\nThe room contains:\nrope\nlamp");
    EXPECT_EQ(room.longDescription(true), "A damp cellar.\nA rope is coiled up.\nA lamp hangs here.");
    EXPECT_EQ(room.longDescription(false), "\nThe room contains:\nrope\nlamp");

    // A dropped item has lost its placing sentence; the article is not adjusted.
    lamp->setDropped(true);
    EXPECT_EQ(room.longDescription(true), "A damp cellar.\nA rope is coiled up.\nA lamp is lying on the ground");

    room.removeItem(rope.get());
    room.removeItem(lamp.get());
    EXPECT_EQ(room.longDescription(false), "");
    EXPECT_EQ(room.longDescription(true), "A damp cellar.");
    EXPECT_EQ(room.shortDescription(), "Cellar");
}

TEST(Room, EmptyDescriptionAlwaysShowsTheShortForm)
{
    Room room("Shed", "");
    EXPECT_EQ(room.longDescription(true), "");
    const auto saw = makeItem("saw", {"saw"}, "A saw.");
    room.addItem(saw.get());
    EXPECT_EQ(room.longDescription(false), "\nThe room contains:\nsaw");
    EXPECT_EQ(room.longDescription(true), "\nThe room contains:\nsaw");
}

TEST(Room, ExitsAddSetAndClose)
{
    Room here("Here", "");
    Room north("North", "");
    Room south("South", "");
    Room east("East", "");
    Room west("West", "");
    for (const DirectionWords& way : directionWords) {
        EXPECT_EQ(here.nextRoom(way.direction), nullptr);
    }
    here.addExit(Direction::EAST, &east);
    here.addExit(Direction::WEST, &west);
    EXPECT_EQ(here.nextRoom(Direction::EAST), &east);
    EXPECT_EQ(here.nextRoom(Direction::EAST), &east) << "asking changes nothing";

    // Null arguments leave those directions as they were.
    here.setExits(&north, nullptr, &south, nullptr);
    EXPECT_EQ(here.nextRoom(Direction::NORTH), &north);
    EXPECT_EQ(here.nextRoom(Direction::SOUTH), &south);
    EXPECT_EQ(here.nextRoom(Direction::EAST), &east);
    EXPECT_EQ(here.nextRoom(Direction::WEST), &west);
    here.setExits(&west, &north, nullptr, &east);
    EXPECT_EQ(here.nextRoom(Direction::NORTH), &west);
    EXPECT_EQ(here.nextRoom(Direction::EAST), &north);
    EXPECT_EQ(here.nextRoom(Direction::SOUTH), &south);
    EXPECT_EQ(here.nextRoom(Direction::WEST), &east);
    EXPECT_EQ(here.nextRoom(Direction::NORTHEAST), nullptr);

    // A null room closes a way; a room opens it again.
    here.addExit(Direction::EAST, nullptr);
    EXPECT_EQ(here.nextRoom(Direction::EAST), nullptr);
    here.addExit(Direction::SOUTHWEST, &here);
    EXPECT_EQ(here.nextRoom(Direction::SOUTHWEST), &here);

    EXPECT_EQ(here.exitstring().rfind("Exits:", 0), 0u);
    EXPECT_EQ(here.exitstring(), "Exits: north south west southwest") << "open ways only, in direction order";
    EXPECT_EQ(Room("Void", "").exitstring().rfind("Exits:", 0), 0u);
}

TEST(Room, GetItemByKeywordInTheOrderItemsCameIn)
{
    Room room("Hall", "");
    const auto first = makeItem("red key", {"key", "red key"});
    const auto second = makeItem("blue key", {"key", "blue key"});
    room.addItem(first.get());
    room.addItem(second.get());
    EXPECT_EQ(room.getItem("key"), first.get());
    EXPECT_EQ(room.getItem("blue key"), second.get());
    EXPECT_EQ(room.getItem("Key"), nullptr);
    EXPECT_EQ(room.getItem(""), nullptr);

    room.removeItem(first.get());
    EXPECT_EQ(room.getItem("key"), second.get());
    room.removeItem(first.get()); // not there: nothing happens
    EXPECT_EQ(room.getItems().size(), 1u);
    room.addItem(first.get());
    EXPECT_EQ(room.getItem("key"), second.get()) << "an item put back comes last";
}

TEST(Item, KeywordsFlagsAndChangedTexts)
{
    Item socks(ItemType::OBJECT, true, true, "dirty socks", {"socks", "dirty socks"}, "Socks everywhere.",
               "They are dirty.");
    EXPECT_TRUE(socks.keywordMatch("socks"));
    EXPECT_TRUE(socks.keywordMatch("dirty socks"));
    for (const char* text : {"Socks", "dirty", "sock", " socks", "socks ", "dirty  socks", ""}) {
        EXPECT_FALSE(socks.keywordMatch(text)) << text;
    }
    EXPECT_FALSE(socks.wasDropped());
    socks.setDropped(true);
    EXPECT_TRUE(socks.wasDropped());
    EXPECT_EQ(socks.getType(), ItemType::OBJECT);
    EXPECT_EQ(socks.getOriginalDescription(), "Socks everywhere.");
    EXPECT_EQ(socks.getKeywords(), (std::vector<std::string>{"socks", "dirty socks"}));

    // The name is not a keyword, and renaming it does not make it one.
    socks.setNewItemName("clean socks");
    EXPECT_EQ(socks.getName(), "clean socks");
    EXPECT_FALSE(socks.keywordMatch("clean socks"));
    EXPECT_TRUE(socks.keywordMatch("socks"));
    socks.setNewItemDetails("Fresh.");
    EXPECT_EQ(socks.examine(), "Fresh.");
    EXPECT_EQ(socks.getOriginalDescription(), "Socks everywhere.");

    const Item nothing(ItemType::READABLE, false, false, "ghost", {}, "", "");
    EXPECT_FALSE(nothing.keywordMatch(""));
    EXPECT_FALSE(nothing.keywordMatch("ghost"));
    EXPECT_FALSE(nothing.canInventory());
    EXPECT_FALSE(nothing.canDrop());
    EXPECT_EQ(static_cast<int>(ItemType::READABLE), 1);
    EXPECT_EQ(static_cast<int>(ItemType::OBJECT), 2);
}

class Inventory : public ::testing::Test {
protected:
    void SetUp() override
    {
        game.init();
        game.take();
    }
    support::MiniGame game;
};

TEST_F(Inventory, AddRemoveAndList)
{
    game.printInverntory();
    EXPECT_EQ(game.take(), "Your inventory is empty\n");

    game.addToInventory(game.key);
    EXPECT_EQ(game.take(), "The brass key was added to your inventory\n");
    EXPECT_EQ(game.hall->getItem("key"), nullptr);
    EXPECT_EQ(game.getInventoryItem("shiny key"), game.key);
    game.addToInventory(game.key);
    EXPECT_EQ(game.take(), "") << "an item already carried is ignored";
    game.addToInventory(game.note);
    game.take();
    EXPECT_EQ(game.getInventory(), (std::vector<Item*>{game.key, game.note}));

    game.printInverntory();
    EXPECT_EQ(game.take(), "Your inventory: \nbrass key\nnote\n");
    game.note->setNewItemName("torn note");
    game.printInverntory();
    EXPECT_EQ(game.take(), "Your inventory: \nbrass key\ntorn note\n");

    // Put down: last in the room, marked as dropped.
    EXPECT_TRUE(game.removeInventoryItem(game.key, false));
    EXPECT_EQ(game.hall->getItems().back(), game.key);
    EXPECT_TRUE(game.key->wasDropped());
    EXPECT_EQ(game.getInventory(), (std::vector<Item*>{game.note}));
    EXPECT_NE(game.hall->longDescription(true).find("\nA brass key is lying on the ground"), std::string::npos);
    game.addToInventory(game.key);
    EXPECT_FALSE(game.key->wasDropped());
    game.take();

    // Gone for good: in no room at all.
    const std::size_t inHall = game.hall->getItems().size();
    EXPECT_TRUE(game.removeInventoryItem(game.note, true));
    EXPECT_EQ(game.hall->getItems().size(), inHall);
    EXPECT_EQ(game.getInventory(), (std::vector<Item*>{game.key}));
    EXPECT_EQ(game.take(), "");
}

TEST_F(Inventory, CanDropRefusalChangesNothing)
{
    game.addToInventory(game.amulet);
    game.addToInventory(game.key);
    game.take();
    const std::vector<Item*> roomBefore = game.hall->getItems();
    EXPECT_FALSE(game.removeInventoryItem(game.amulet, false));
    EXPECT_FALSE(game.removeInventoryItem(game.amulet, true));
    EXPECT_EQ(game.getInventory(), (std::vector<Item*>{game.amulet, game.key}));
    EXPECT_EQ(game.hall->getItems(), roomBefore);
    EXPECT_FALSE(game.amulet->wasDropped());
    EXPECT_EQ(game.take(), "");
}

TEST_F(Inventory, TakeDropExamineAndReadCommands)
{
    const std::pair<std::string, std::string> script[] = {
        {"take", "There's nothing to take with that name!\n"},
        {"take sword", "There's nothing to take with that name!\n"},
        {"take brass key", "There's nothing to take with that name!\n"},
        {"take anvil", "You don't need to take this item.\n"},
        {"drop key", "Could not drop the item\n"},
        {"t the shiny key", "The brass key was added to your inventory\n"},
        {"take key", ""},
        {"drop", "Could not drop the item\n"},
        {"drop shiny key", "Dropped the shiny key\n"},
        {"take key", "The brass key was added to your inventory\n"},
        {"take amulet", "The amulet was added to your inventory\n"},
        {"drop amulet", "I would keep that if I were you\n"},
        {"examine key", "An old brass key.\n"},
        {"look at the anvil", "Heavy.\n"},
        {"examine note", "It reads: \n\nMeet me at noon\n"},
        {"read note", "\n\"Meet me at noon\"\n\n"},
        {"r paper", "\n\"Meet me at noon\"\n\n"},
        {"read key", "Nothing happened\n"},
        {"read", "Read what?\n"},
        {"read sword", "There's nothing to read here\n"},
        {"i", "Your inventory: \nbrass key\namulet\n"},
        {"inventory of things", "Your inventory: \nbrass key\namulet\n"},
    };
    for (const auto& [line, answer] : script) {
        EXPECT_TRUE(game.line(line)) << line;
        EXPECT_EQ(game.take(), "\n" + answer) << line;
    }
    game.note->setNewItemDetails("Noon is off");
    game.line("examine note");
    EXPECT_EQ(game.take(), "\nIt reads: \n\nNoon is off\n");
    game.line("read note");
    EXPECT_EQ(game.take(), "\n\n\"Noon is off\"\n\n");
}

TEST_F(Inventory, RoomIsSearchedBeforeTheInventory)
{
    Item* spare = game.keepItem(makeItem("iron key", {"key", "iron key"}));
    game.addToInventory(spare);
    game.take();
    game.line("examine key");
    EXPECT_EQ(game.take(), "\nAn old brass key.\n");
    game.line("take key");
    EXPECT_EQ(game.take(), "\nThe brass key was added to your inventory\n");
    game.line("take key");
    EXPECT_EQ(game.take(), "\n") << "both carried: the first carried one is found, already held";
    game.line("examine key");
    EXPECT_EQ(game.take(), "\niron key details\n");
}

TEST_F(Inventory, UseSplitsToolAndTarget)
{
    const std::string onWhat = "\nWhat do you want to use it on?\n";
    const std::pair<std::string, std::string> refusals[] = {
        {"use", "\nHuh?\n"},         {"use the", "\nHuh?\n"},     {"use key", onWhat},
        {"use on door", onWhat},     {"use key on", onWhat},      {"use red key", onWhat},
        {"use key ON door", onWhat}, {"use key at door", onWhat}, {"apply to", onWhat},
    };
    for (const auto& [line, answer] : refusals) {
        EXPECT_TRUE(game.line(line));
        EXPECT_EQ(game.take(), answer) << line;
    }
    EXPECT_EQ(game.combined, 0);

    game.addToInventory(game.key);
    game.take();
    struct Case {
        std::string line;
        Item* first;  // the target
        Item* second; // the tool
    };
    const Case cases[] = {
        {"use shiny key on note", game.note, game.key},
        {"give the key to the paper", game.note, game.key},
        {"place key on anvil", game.anvil, game.key},
        {"put key into amulet", game.amulet, game.key},
        {"apply key in key", game.key, game.key},
        // The tool must be carried; the target may lie in the room.
        {"use note on key", game.key, nullptr},
        {"use key on sword", nullptr, game.key},
        // The first separator splits; the rest is the target's name.
        {"put key in note on anvil", nullptr, game.key},
    };
    for (const Case& c : cases) {
        const int before = game.combined;
        EXPECT_TRUE(game.line(c.line));
        EXPECT_EQ(game.take(), "\n") << c.line;
        EXPECT_EQ(game.combined, before + 1) << c.line;
        EXPECT_EQ(game.lastFirst, c.first) << c.line;
        EXPECT_EQ(game.lastSecond, c.second) << c.line;
    }
}

TEST_F(Inventory, MovingAndDescribingRooms)
{
    const std::pair<std::string, std::string> script[] = {
        {"ne", "You can't go that way!\n"},
        {"take key", "The brass key was added to your inventory\n"},
        {"go north quickly", "Attic\n"},
        {"look", "Attic\n"},
        {"drop key", "Dropped the key\n"},
        {"look", "Attic\n\nThe room contains:\nbrass key\n"},
        {"south", "Hall\nA long hall.\nA note is pinned up.\nAn anvil sits here.\nAn amulet hangs on a nail.\n"},
        {"s", "You can't go that way!\n"},
        {"n", "Attic\n\nThe room contains:\nbrass key\n"},
        {"s", "Hall\n\nThe room contains:\nnote\nanvil\namulet\n"},
        {"examine", "Hall\nA long hall.\nA note is pinned up.\nAn anvil sits here.\nAn amulet hangs on a nail.\n"},
        {"look at nothing",
         "Hall\nA long hall.\nA note is pinned up.\nAn anvil sits here.\nAn amulet hangs on a nail.\n"},
        {"north", "Attic\n\nThe room contains:\nbrass key\n"},
    };
    for (const auto& [line, answer] : script) {
        EXPECT_TRUE(game.line(line)) << line;
        EXPECT_EQ(game.take(), "\n" + answer) << line;
    }
    EXPECT_EQ(game.getCurrentRoom(), game.attic);
}
