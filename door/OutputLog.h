#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The latest output of a game, numbered by byte from the game's first: what
// a player who comes back has missed is sent again from here. Only the last
// capacity bytes are kept.
class OutputLog {
public:
    static constexpr std::size_t defaultCapacity = std::size_t{256} * 1024;

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

private:
    std::size_t capacity;
    std::string kept;
    std::uint64_t first = 0;
};
