#include "NavigateCommand.h"

#include "AbstractGame.h"

std::vector<std::string> NavigateCommand::getRecognizedCommands()
{
    // Every direction's word, then every short form, in the table's order.
    std::vector<std::string> words(2 * directionWords.size());
    for (std::size_t i = 0; i < directionWords.size(); ++i) {
        words[i] = directionWords[i].word;
        words[directionWords.size() + i] = directionWords[i].shortWord;
    }
    return words;
}

int NavigateCommand::execute(Command command)
{
    // Only the directions' words are dispatched here; arguments are ignored.
    const std::string& typed = command.getCommandWord();
    for (const DirectionWords& way : directionWords) {
        if (way.word == typed || way.shortWord == typed) {
            AbstractGame::instance->goInDirection(way.direction);
            break;
        }
    }
    return 0;
}
