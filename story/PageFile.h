#pragma once

#include <functional>
#include <string>
#include <string_view>

// The page file: the one piece of data that outlives a game. It is shared by
// every game process on the machine and only grows. It holds page records,
// oldest first, each two lines:
//
//   the page number in decimal digits (no sign, no leading zeros), '\n'
//   the page text (its words, each followed by a space), '\n'
//
// with no header, separator, length or time stamp. This class is the only
// place that knows that format and how the file is locked:
//
// - Writers take an exclusive advisory lock (flock) for each record, append
//   the whole record through an O_APPEND descriptor, retrying short writes,
//   and make it durable before they let go. A record that cannot be written
//   whole is cut off again, back to the size seen under the lock, so the file
//   never holds part of a record.
// - Readers take a shared lock only to learn how far the file holds whole
//   records, and then read up to there without holding it: everything below
//   that size is finished and is never changed again, and a reader that is
//   slow to hand its text on (a player's terminal that does not read) keeps
//   no writer waiting.
// - Reading streams the file through a buffer of fixed size: memory does not
//   grow with the file, nor with the length of a line.
class PageFile {
public:
    explicit PageFile(std::string path);

    const std::string& path() const { return filePath; }

    // Appends the record of one page. True once the whole record is in the
    // file; false, with the file as it was, when it cannot be opened or
    // written (missing directory, read-only, not a regular file, disk full).
    // A text that holds a line end would break the format and is refused.
    bool append(unsigned long long number, std::string_view text) const;

    // Receives a text in pieces, in order, without its line end.
    using TextPiece = std::function<void(std::string_view)>;

    enum class Lookup { Found, NotFound, CannotOpen };

    // Reads the file line by line from the start and compares every line,
    // whole and byte for byte, with key; at the first equal line the line
    // after it (empty if there is none) goes to piece, and reading stops.
    Lookup findText(std::string_view key, const TextPiece& piece) const;

    // Lists the texts: while the file has not come to its end, reads a line
    // (the page number) and the next line (the text) and hands the text to
    // piece and then calls endOfText. The end is noticed only by a read that
    // fails, so after the last whole record there is one more pass, with an
    // empty text. False, with nothing handed on, if the file cannot be opened.
    bool listTexts(const TextPiece& piece, const std::function<void()>& endOfText) const;

private:
    std::string filePath;
};
