#include "WriteCommand.h"

#include <memory>
#include <optional>
#include <utility>

#include "AbstractGame.h"
#include "Item.h"
#include "Pages.h"

WriteCommand::WriteCommand()
{
    cleanse = false;
    pages.clear();
    pages.reserve(10);
}

std::vector<std::string> WriteCommand::getRecognizedCommands() { return {"write-on", "write"}; }

int WriteCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    if (game.getInventoryItem("big old book") == nullptr) {
        game.say("You need a book or something to write to");
        return 0;
    }
    const std::vector<std::string>& words = command.args();
    if (words.size() < 3) {
        game.say("On which page you want to write what?");
        return 0;
    }
    if (words[0] != "page") {
        game.say("You cannot write on that...");
        return 0;
    }
    const std::optional<unsigned long long> number = readPageNumber(words[1]);
    if (!number) {
        game.say("Thats not a page number");
        return 0;
    }
    if (*number == 0) {
        game.say("You cannot write on that...");
        return 0;
    }
    pages.push_back(Page{*number, words[1], pageText(words, 2)});
    game.say("Crrrsccccccchht you ripped that page out of the book");

    // The details grow by one block in place, so that writing stays linear
    // in the number of pages.
    std::string block;
    appendPageBlock(block, pages.back());
    Item* pageItem = game.getInventoryItem("page");
    if (pageItem == nullptr) {
        pageItem = game.keepItem(std::make_unique<Item>(ItemType::OBJECT, true, false, pageItemName(pages.size()),
                                                        std::vector<std::string>{"page", "pages"},
                                                        "pages out of the big old book", std::move(block)));
        game.addToInventory(pageItem);
    } else {
        pageItem->appendItemDetails(block);
        pageItem->setNewItemName(pageItemName(pages.size()));
    }
    return 0;
}
