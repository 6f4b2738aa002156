#include "SearchCommand.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <ostream>
#include <string_view>

#include "AbstractGame.h"
#include "Example.h"
#include "Lookout.h"
#include "PageFile.h"

bool debugmodeon = true;

namespace {

const char* const nothingFound = "There is nothing to find.";
// The page file is there but cannot be read just now (a failing disk, a
// network file system cut off from its servers): the player must not take
// that for an empty library.
const char* const pagesOutOfReach = "You cannot get to the hidden pages right now, try again later";

bool isControlByte(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Whether text holds a control byte: one pass without branches, which the
// compiler turns into vector code.
bool hasControlByte(std::string_view text)
{
    unsigned char found = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        found |= static_cast<unsigned char>(static_cast<unsigned char>(byte < 0x20) |
                                            static_cast<unsigned char>(byte == 0x7f));
    }
    return found != 0;
}

// Prints texts from the page file with each control byte shown as '?'.
// Another player wrote them: escape sequences, bells or NUL bytes in them
// must not clear, recolour or retitle this player's terminal. Every other
// byte is shown as stored. The output is gathered and handed to the stream
// in large writes: a listing of millions of short texts would otherwise
// cost a stream call or two for each.
class SafePrinter {
public:
    explicit SafePrinter(std::ostream& out) : out(out) {}
    SafePrinter(const SafePrinter&) = delete;
    SafePrinter& operator=(const SafePrinter&) = delete;
    ~SafePrinter() { flush(); }

    // A text, or a piece of one, from the page file.
    void text(std::string_view text)
    {
        // A long clean piece goes to the stream as it is, without a copy.
        if (text.size() >= buffer.size() / 16 && !hasControlByte(text)) {
            flush();
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
        } else {
            put(text, [](char c) { return isControlByte(c) ? '?' : c; });
        }
        inText = !text.empty();
    }

    // The game's own bytes, printed as they are.
    void raw(std::string_view bytes)
    {
        put(bytes, [](char c) { return c; });
        inText = false;
    }

    // Says that the pages cannot be reached, on a line of its own after any
    // text begun, and an empty line.
    void outOfReach()
    {
        raw(inText ? "\n" : "");
        raw(pagesOutOfReach);
        raw("\n\n");
    }

    void flush()
    {
        out.write(buffer.data(), static_cast<std::streamsize>(used));
        used = 0;
    }

private:
    // Puts each byte, as show shows it, into the buffer, which goes to the
    // stream whenever it is full.
    template <typename Show>
    void put(std::string_view bytes, Show show)
    {
        while (!bytes.empty()) {
            if (used == buffer.size()) {
                flush();
            }
            const std::size_t count = std::min(bytes.size(), buffer.size() - used);
            const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(count);
            std::transform(bytes.begin(), end, buffer.begin() + static_cast<std::ptrdiff_t>(used), show);
            used += count;
            bytes.remove_prefix(count);
        }
    }

    std::ostream& out;
    std::array<char, std::size_t{64} * 1024> buffer{};
    std::size_t used = 0;
    bool inText = false; // the last thing printed was a piece of a text
};

// The lookout, its answer and an empty line.
void lookOutForSearch(AbstractGame& game)
{
    lookOut(game);
    game.say("Nobody there");
    game.say("");
}

} // namespace

std::vector<std::string> SearchCommand::getRecognizedCommands() { return {"search"}; }

int SearchCommand::execute(Command command)
{
    AbstractGame& game = *AbstractGame::instance;
    if (!inHidingPlace(game)) {
        return 0;
    }
    const PageFile file(Example::current().pageFilePath());
    const std::string key = command.getArg(0);
    if (key.empty()) {
        game.say("Where do you want to search something?");
        if (!debugmodeon) {
            return 0;
        }
        lookOutForSearch(game);
        SafePrinter printer(game.output());
        const PageFile::Listing listing = file.listTexts([&printer](std::string_view piece) { printer.text(piece); },
                                                         [&printer] { printer.raw("\n\n"); });
        if (listing == PageFile::Listing::Unreadable) {
            printer.outOfReach();
        }
        return 0;
    }

    lookOutForSearch(game);
    // Texts go to the player as they are read, never held whole.
    SafePrinter printer(game.output());
    switch (file.findText(key, [&printer](std::string_view piece) { printer.text(piece); })) {
    case PageFile::Lookup::Found:
        printer.raw("\n\n");
        break;
    case PageFile::Lookup::NotFound:
        printer.raw(nothingFound);
        printer.raw("\n\n");
        break;
    case PageFile::Lookup::NoFile:
        printer.raw(nothingFound);
        printer.raw("\n");
        break;
    case PageFile::Lookup::Unreadable:
        printer.outOfReach();
        break;
    }
    return 0;
}
