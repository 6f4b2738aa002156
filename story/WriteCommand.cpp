#include "WriteCommand.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "AbstractGame.h"
#include "Command.h"
#include "PageItem.h"
#include "Pages.h"
#include "WordScanner.h"
#include "WorldNames.h"

WriteCommand::WriteCommand() { cleanse = false; }

std::vector<std::string> WriteCommand::getRecognizedCommands() { return {"write-on", "write"}; }

int WriteCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    if (game.getInventoryItem(keywords::book) == nullptr) {
        game.say("You need a book or something to write to");
        return 0;
    }
    // The first two words are looked at on their own; the rest is the text.
    // Nothing splits the whole line into words: a line of millions of words
    // is held as one text, not as millions of strings.
    const std::string_view rest = command.getArgsstring();
    WordScanner scanner(rest);
    const std::string_view onWhat = scanner.next() ? scanner.word() : std::string_view();
    const std::string_view numberWord = scanner.next() ? scanner.word() : std::string_view();
    if (!scanner.next()) {
        game.say("On which page you want to write what?");
        return 0;
    }
    if (onWhat != "page") {
        game.say("You cannot write on that...");
        return 0;
    }
    const std::optional<unsigned long long> number = readPageNumber(numberWord);
    if (!number) {
        game.say("Thats not a page number");
        return 0;
    }
    if (*number == 0) {
        game.say("You cannot write on that...");
        return 0;
    }
    // Everything that may run out of memory happens before anything changes.
    Page page{*number, std::string(numberWord), pageText(rest.substr(scanner.position()))};
    auto* pageItem = dynamic_cast<PageItem*>(game.getInventoryItem(keywords::page));
    std::unique_ptr<PageItem> newItem = pageItem == nullptr ? std::make_unique<PageItem>() : nullptr;
    pages.push_back(std::move(page));
    game.say("Crrrsccccccchht you ripped that page out of the book");
    if (newItem != nullptr) {
        newItem->recount();
        game.addToInventory(game.keepItem(std::move(newItem)));
    } else {
        pageItem->recount();
    }
    return 0;
}
