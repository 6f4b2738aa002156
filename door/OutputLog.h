#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// The latest output of a game, numbered by byte from the game's first: what
// a player who comes back has missed is sent again from here. Only the last
// capacity bytes are kept, and the lines the player typed among them, each
// where it came, so that a page that shows the game again shows them too.
class OutputLog {
public:
    static constexpr std::size_t defaultCapacity = std::size_t{256} * 1024;
    // How much of a typed line is kept to be shown again.
    static constexpr std::size_t typedLimit = 1024;

    struct Typed {
        std::uint64_t at;    // the output offset it came at
        std::uint64_t input; // the player's input bytes in all, up to its end
        std::string text;    // without its line end, cut to typedLimit
    };

    explicit OutputLog(std::size_t capacity = defaultCapacity) : capacity(capacity) {}

    void append(std::string_view bytes);

    // The offset of the oldest byte kept, and the offset after the newest.
    std::uint64_t start() const { return first; }
    std::uint64_t end() const { return first + kept.size(); }

    // The kept bytes from offset on (start() at the least), at most most.
    std::string_view from(std::uint64_t offset, std::size_t most) const;

    // The offset of the start of the last line, the one the game is still
    // writing (its prompt, say): just after the last line end, or start()
    // if none is kept.
    std::uint64_t lastLineStart() const;

    // A line the player typed, now, its input ending at input bytes in all.
    void typed(std::uint64_t input, std::string_view text);
    // The kept lines, oldest first: at and input only grow.
    const std::deque<Typed>& lines() const { return typedLines; }

private:
    std::size_t capacity;
    std::string kept;
    std::uint64_t first = 0;
    std::deque<Typed> typedLines;
};
