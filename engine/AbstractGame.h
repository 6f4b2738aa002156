#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AbstractCommand.h"
#include "Command.h"
#include "Item.h"
#include "LineInput.h"
#include "Parser.h"
#include "Room.h"

// The engine's game object and the base of every concrete game. It holds the
// player's position, the inventory and the command handlers, owns the world,
// and talks to the player through the streams it is given.
class AbstractGame {
public:
    // The one game being played; handlers reach the game only through it.
    // Set by the concrete game's constructor, cleared by destroy() and when
    // that game is destroyed.
    static AbstractGame* instance;

    AbstractGame(std::istream& input, std::ostream& output);
    AbstractGame(const AbstractGame&) = delete;
    AbstractGame& operator=(const AbstractGame&) = delete;

    // Releases everything the current game owns and clears instance. The
    // game object itself is left to its owner: main keeps it as a local.
    virtual void destroy();
    // Builds the world, the base handlers and the parser.
    virtual void init();
    virtual void createRooms() = 0;
    virtual void createItems() = 0;
    // Uses two items together; either may be null (no item of that name).
    virtual void combineItems(Item* first, Item* second) = 0;
    virtual void addToInventory(Item* item);
    // Lets a carried item go: put down in the current room unless vanish is
    // true. False, with nothing changed, if the item may not be dropped.
    virtual bool removeInventoryItem(Item* item, bool vanish);
    // The welcome, then the input loop until the player leaves.
    virtual void play();
    virtual void printWelcome();
    // Runs the first registered handler that knows the command word.
    virtual int processCommand(Command command);
    // Lists the handlers: by their first word only, or by all their words.
    virtual void printHelp(bool shortList);
    virtual void clearScreen();
    virtual void printInverntory();
    virtual void goInDirection(Direction direction);
    virtual Room* getCurrentRoom();
    virtual void printCurrentRoom(bool force);
    virtual ~AbstractGame();

    void addBaseCommands();
    // Appends a handler to the handler list; the game owns it from now on.
    void addCommand(std::unique_ptr<AbstractCommand> command);
    std::vector<AbstractCommand*> getCommandExecutors() const;
    std::size_t commandCount() const { return handlers.size(); }
    // The first carried item answering to keyword, or null.
    Item* getInventoryItem(std::string_view keyword) const;
    const std::vector<Item*>& getInventory() const { return inventory; }
    bool isCarried(const Item* item) const;
    // The item answering to keyword in the current room, or else among the
    // carried ones; null if neither has one.
    Item* findItemHereOrCarried(std::string_view keyword);

    // Ends the game after the command that is running: no further prompt,
    // nothing more is read. main then returns with status 0.
    void quit() { quitting = true; }
    bool hasQuit() const { return quitting; }

    // Reads one line of input (see LineInput::read), after flushing the
    // output, since prompts have no line end. False at end of input.
    bool readLine(std::string& line);
    bool lineWasCut() const { return input.wasCut(); }
    LineInput& lineInput() { return input; }
    // Writes text followed by a line end.
    void say(std::string_view text);
    std::ostream& output() { return out; }

protected:
    void setCurrentRoom(Room* room) { currentRoom = room; }

public:
    // The world belongs to the game: a story hands its rooms and items over
    // and keeps plain pointers to them.
    Room* keepRoom(std::unique_ptr<Room> room);
    Item* keepItem(std::unique_ptr<Item> item);

private:
    std::unique_ptr<Parser> parser;
    Room* currentRoom = nullptr;
    std::vector<std::unique_ptr<AbstractCommand>> handlers;
    std::vector<Item*> inventory;
    std::vector<std::unique_ptr<Room>> rooms;
    std::vector<std::unique_ptr<Item>> items;
    LineInput input;
    std::ostream& out;
    bool quitting = false;
};
