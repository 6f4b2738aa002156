#include "Parser.h"

#include <istream>
#include <new>
#include <ostream>
#include <utility>

#include "AbstractCommand.h"
#include "AbstractGame.h"
#include "Command.h"
#include "WordScanner.h"

namespace {

bool isFiller(std::string_view word) { return word == "at" || word == "the" || word == "a" || word == "an"; }

// The answer to a line too long to be held, or to be handled in the memory
// the game has.
const char* const tooLong = "That line is too long for me, try a shorter one...";

} // namespace

Parser::Parser(AbstractGame* game) : game(game) {}

void Parser::run()
{
    std::string line;
    while (true) {
        game->output() << prompt;
        if (!game->readLine(line)) {
            return;
        }
        if (game->lineWasCut()) {
            game->say(tooLong);
            continue;
        }
        if (line.empty() || line == "quit" || line == "exit") {
            return;
        }
        try {
            if (!handleInput(line)) {
                game->say("I dont understand the command.");
            }
        } catch (const std::bad_alloc&) {
            // Handlers take what they need before they change anything, so a
            // command that runs out of memory has changed nothing.
            game->say(tooLong);
        }
        if (game->hasQuit()) {
            game->output().flush();
            return;
        }
    }
}

void Parser::tokenize(const std::string& line, std::vector<std::string>& words) { splitWords(line, words); }

std::string Parser::cleanseLine(const std::string& line)
{
    std::string result;
    // Each word kept gets one blank before it, so the result is at most one
    // byte longer than the line; it is built once, at that size.
    result.reserve(line.size() + 1);
    WordScanner scanner(line);
    while (scanner.next()) {
        if (!isFiller(scanner.word())) {
            result += ' ';
            result += scanner.word();
        }
    }
    return result;
}

const std::vector<std::string>& Parser::wordsOf(std::size_t index, AbstractCommand* handler)
{
    while (knownWords.size() <= index) {
        knownWords.emplace_back();
    }
    if (knownWords[index].empty()) {
        knownWords[index] = handler->getRecognizedCommands();
    }
    return knownWords[index];
}

bool Parser::handleInput(const std::string& line)
{
    const std::vector<AbstractCommand*> handlers = game->getCommandExecutors();

    // The earliest line word that some handler recognises decides; handlers
    // are tried in registration order, each handler's words in list order.
    AbstractCommand* handler = nullptr;
    std::string_view commandWord;
    std::size_t rawStart = 0;      // where the command word starts in the line
    std::size_t cleansedStart = 0; // where it starts in the cleansed line
    WordScanner scanner(line);
    while (handler == nullptr && scanner.next()) {
        const std::string_view word = scanner.word();
        for (std::size_t i = 0; i < handlers.size() && handler == nullptr; ++i) {
            for (const std::string& known : wordsOf(i, handlers[i])) {
                if (known == word) {
                    handler = handlers[i];
                    commandWord = word;
                    rawStart = scanner.position();
                    break;
                }
            }
        }
        if (handler == nullptr && !isFiller(word)) {
            cleansedStart += 1 + word.size();
        }
    }
    if (handler == nullptr) {
        return false;
    }

    // The argument text is what follows the command word: in the cleansed
    // line the blank after it is skipped, in the raw line the one character
    // after it, and everything else is kept as typed.
    std::string word(commandWord);
    std::string args;
    if (handler->cleanse) {
        std::string cleansed = cleanseLine(line);
        const std::size_t from = cleansedStart + word.size() + 2;
        if (cleansed.size() > from) {
            cleansed.erase(0, from);
            args = std::move(cleansed);
        }
    } else {
        const std::size_t from = rawStart + word.size() + 1;
        if (line.size() > from) {
            args = line.substr(from);
        }
    }
    game->output() << '\n';
    game->processCommand(Command(std::move(word), std::move(args)));
    return true;
}
