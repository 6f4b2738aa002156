#include "HideCommand.h"

#include <cstddef>
#include <optional>

#include "AbstractGame.h"
#include "Example.h"
#include "Lookout.h"
#include "PageFile.h"
#include "PageItem.h"
#include "Pages.h"
#include "WorldNames.h"

namespace {

const char* const ghosted = "You cannot hide yet, someone is arround ghosting you";
const char* const hidden = "Perfect, no one will ever find it";

// Looks out, then appends the record of the page at index. The answer to the
// lookout completes its second line. True once the whole record is in the file.
bool hideOne(AbstractGame& game, const PageFile& file, std::size_t index)
{
    lookOut(game);
    const Page& page = pages[index];
    if (!file.append(page.number, page.text)) {
        game.say(ghosted);
        return false;
    }
    game.say("Nobody there");
    return true;
}

// Lets the pages at indices [first, last) go; the page item's name counts
// the pages still held, and its details show theirs from now on.
void letGo(PageItem& pageItem, std::size_t first, std::size_t last)
{
    if (first == last) {
        return;
    }
    const auto begin = pages.begin() + static_cast<std::ptrdiff_t>(first);
    pages.erase(begin, begin + static_cast<std::ptrdiff_t>(last - first));
    pageItem.recount();
}

// A position of a page held: 1 <= position <= number of pages held.
bool isHeld(long long position) { return position >= 1 && static_cast<unsigned long long>(position) <= pages.size(); }

} // namespace

std::vector<std::string> HideCommand::getRecognizedCommands() { return {"hide"}; }

int HideCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    if (!inHidingPlace(game)) {
        return 0;
    }
    const std::string first = command.getArg(0);
    const std::string second = command.getArg(1);
    if (first.empty() || second.empty()) {
        game.say("Where do you want to hide what?");
        return 0;
    }
    if (first != "pages" && first != "page") {
        game.say("Thats kinda obvious, isnt it? Maybe you should hide pages between pages...");
        return 0;
    }
    auto* pageItem = dynamic_cast<PageItem*>(game.getInventoryItem(keywords::page));
    if (pageItem == nullptr) {
        game.say("You dont have pages to hide...");
        return 0;
    }
    const PageFile file(Example::current().pageFilePath());
    const std::string third = command.getArg(2);

    if (third.empty()) {
        const std::optional<long long> position = readPosition(second);
        if (!position) {
            game.say("Thats not a page number");
            return 0;
        }
        if (!isHeld(*position)) {
            game.say("You dont have that many pages...");
            return 0;
        }
        const auto index = static_cast<std::size_t>(*position - 1);
        if (!hideOne(game, file, index)) {
            return 0;
        }
        letGo(*pageItem, index, index + 1);
        game.say(hidden);
        return 0;
    }

    if (third == "to" && command.getArg(3).empty()) {
        game.say("Up to what page? ...");
        return 0;
    }
    const std::optional<long long> from = readPosition(second);
    const std::optional<long long> to = readPosition(third == "to" ? command.getArg(3) : third);
    if (!from || !to) {
        game.say("Thats not a page number");
        return 0;
    }
    if (*to > 0 && static_cast<unsigned long long>(*to) > pages.size()) {
        game.say("You don't have that many pages...");
        return 0;
    }
    if (*from < 1 || *from > *to) {
        game.say("That is no run of pages, count them again...");
        return 0;
    }
    // Each page leaves only once its record is in the file; the first page
    // that cannot be hidden ends the run, and it and those behind it stay.
    const auto begin = static_cast<std::size_t>(*from - 1);
    const auto end = static_cast<std::size_t>(*to);
    std::size_t done = begin;
    while (done < end && hideOne(game, file, done)) {
        ++done;
    }
    letGo(*pageItem, begin, done);
    if (done == end) {
        game.say(hidden);
    }
    return 0;
}
