#include "AbstractGame.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "DropCommand.h"
#include "ExamineCommand.h"
#include "HelpCommand.h"
#include "InventoryCommand.h"
#include "NavigateCommand.h"
#include "ReadCommand.h"
#include "TakeCommand.h"
#include "UseCommand.h"

AbstractGame* AbstractGame::instance = nullptr;

AbstractGame::AbstractGame(std::istream& in, std::ostream& output) : input(in), out(output) {}

AbstractGame::~AbstractGame()
{
    if (instance == this) {
        instance = nullptr;
    }
}

void AbstractGame::destroy()
{
    AbstractGame* game = std::exchange(instance, nullptr);
    if (game == nullptr) {
        return;
    }
    game->parser.reset();
    game->handlers.clear();
    game->inventory.clear();
    game->currentRoom = nullptr;
    game->items.clear();
    game->rooms.clear();
}

void AbstractGame::init()
{
    createRooms();
    createItems();
    addBaseCommands();
    parser = std::make_unique<Parser>(this);
}

void AbstractGame::addBaseCommands()
{
    addCommand(std::make_unique<NavigateCommand>());
    addCommand(std::make_unique<DropCommand>());
    addCommand(std::make_unique<ExamineCommand>());
    addCommand(std::make_unique<InventoryCommand>());
    addCommand(std::make_unique<TakeCommand>());
    addCommand(std::make_unique<ReadCommand>());
    addCommand(std::make_unique<UseCommand>());
    addCommand(std::make_unique<HelpCommand>());
}

void AbstractGame::addCommand(std::unique_ptr<AbstractCommand> command)
{
    if (command != nullptr) {
        handlers.push_back(std::move(command));
    }
}

std::vector<AbstractCommand*> AbstractGame::getCommandExecutors() const
{
    std::vector<AbstractCommand*> list;
    list.reserve(handlers.size());
    for (const auto& handler : handlers) {
        list.push_back(handler.get());
    }
    return list;
}

Room* AbstractGame::keepRoom(std::unique_ptr<Room> room)
{
    rooms.push_back(std::move(room));
    return rooms.back().get();
}

Item* AbstractGame::keepItem(std::unique_ptr<Item> item)
{
    items.push_back(std::move(item));
    return items.back().get();
}

void AbstractGame::play()
{
    printWelcome();
    if (parser != nullptr) {
        parser->run();
    }
}

void AbstractGame::printWelcome()
{
    say("Type 'help' if you need help.");
    printCurrentRoom(true);
}

int AbstractGame::processCommand(Command command)
{
    // Searched afresh on the live list: a handler registered while the
    // previous command ran answers from this line on.
    for (const auto& handler : handlers) {
        const std::vector<std::string> words = handler->getRecognizedCommands();
        if (std::find(words.begin(), words.end(), command.getCommandWord()) != words.end()) {
            return handler->execute(std::move(command));
        }
    }
    return 0;
}

void AbstractGame::printHelp(bool shortList)
{
    say("The available commands are:");
    std::string text;
    for (const auto& handler : handlers) {
        const std::vector<std::string> words = handler->getRecognizedCommands();
        const std::size_t shown = shortList ? std::min<std::size_t>(words.size(), 1) : words.size();
        for (std::size_t i = 0; i < shown; ++i) {
            text += " - ";
            text += words[i];
        }
        text += "\n\n";
    }
    say(text);
}

void AbstractGame::clearScreen() { out << std::string(19, '\n'); }

void AbstractGame::addToInventory(Item* item)
{
    if (item == nullptr || isCarried(item)) {
        return;
    }
    item->setDropped(false);
    inventory.push_back(item);
    if (currentRoom != nullptr) {
        currentRoom->removeItem(item);
    }
    out << "The " << item->getName() << " was added to your inventory\n";
}

bool AbstractGame::isCarried(const Item* item) const
{
    return std::find(inventory.begin(), inventory.end(), item) != inventory.end();
}

Item* AbstractGame::findItemHereOrCarried(std::string_view keyword)
{
    Room* room = getCurrentRoom();
    Item* item = room == nullptr ? nullptr : room->getItem(keyword);
    return item != nullptr ? item : getInventoryItem(keyword);
}

Item* AbstractGame::getInventoryItem(std::string_view keyword) const
{
    const auto found = std::find_if(inventory.begin(), inventory.end(),
                                    [keyword](const Item* item) { return item->keywordMatch(keyword); });
    return found == inventory.end() ? nullptr : *found;
}

bool AbstractGame::removeInventoryItem(Item* item, bool vanish)
{
    if (item == nullptr || !item->canDrop()) {
        return false;
    }
    if (!vanish && currentRoom != nullptr) {
        item->setDropped(true);
        currentRoom->addItem(item);
    }
    const auto found = std::find(inventory.begin(), inventory.end(), item);
    if (found != inventory.end()) {
        inventory.erase(found);
    }
    return true;
}

void AbstractGame::printInverntory()
{
    std::string text;
    for (const Item* item : inventory) {
        text += '\n';
        text += item->getName();
    }
    if (text.empty()) {
        say("Your inventory is empty");
    } else {
        out << "Your inventory: " << text << '\n';
    }
}

void AbstractGame::goInDirection(Direction direction)
{
    Room* next = currentRoom == nullptr ? nullptr : currentRoom->nextRoom(direction);
    if (next == nullptr) {
        say("You can't go that way!");
        return;
    }
    currentRoom = next;
    printCurrentRoom(false);
}

Room* AbstractGame::getCurrentRoom() { return currentRoom; }

void AbstractGame::printCurrentRoom(bool force)
{
    if (currentRoom == nullptr) {
        return;
    }
    const std::string description = currentRoom->longDescription(force);
    out << currentRoom->shortDescription() << '\n';
    if (!description.empty()) {
        out << description << '\n';
    }
}

bool AbstractGame::readLine(std::string& line)
{
    // Prompts have no line end; a player who can no longer see the output
    // has left.
    if (!out.flush()) {
        line.clear();
        return false;
    }
    return input.read(line);
}

void AbstractGame::say(std::string_view text) { out << text << '\n'; }
