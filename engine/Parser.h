#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class AbstractGame;
class AbstractCommand;

// What the game prints whenever it asks for a line.
inline constexpr std::string_view prompt = "> ";

// Reads the player's lines, finds the handler each line is meant for, cuts
// out the argument text and hands a Command to the game.
class Parser {
public:
    explicit Parser(AbstractGame* game);
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;
    virtual ~Parser() = default;

    // Prompts and handles lines until "quit", "exit", an empty line or the
    // end of input.
    virtual void run();

    // Appends the white-space separated words of line to words.
    static void tokenize(const std::string& line, std::vector<std::string>& words);
    // The line without the filler words: each remaining word after one blank.
    static std::string cleanseLine(const std::string& line);
    // Dispatches the line to its handler; false if no handler knows any word.
    bool handleInput(const std::string& line);

private:
    // The recognised words of handler number index. Handlers are never
    // removed and always answer the same words, so each list is fetched once.
    const std::vector<std::string>& wordsOf(std::size_t index, AbstractCommand* handler);

    AbstractGame* game;
    std::vector<std::vector<std::string>> knownWords;
};
