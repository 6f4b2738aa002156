#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "PatternSearch.h"

// The page file: the one piece of data that outlives a game. It is shared by
// every game process on the machine and only grows. It holds page records,
// oldest first, each two lines:
//
//   the page number in decimal digits (no sign, no leading zeros), '\n'
//   the page text (its words, each followed by a space), '\n'
//
// with no header, separator, length or time stamp. This class is the only
// place that knows that format and how the file is shared:
//
// - A record is whole once its text line has its line end. Only a writer
//   that dies in the middle of a record (SIGKILL, power loss) can leave an
//   unfinished one, and only at the end of the file: a last line without a
//   line end, and before it perhaps a number line whose text never came.
// - Writers take an exclusive advisory lock (flock) for each record, waiting
//   for it a few seconds at most. Under the lock they first cut off an
//   unfinished record left at the end, then append the whole record through
//   an O_APPEND descriptor, retrying short writes, and make it durable
//   before they let go. The signals that end or stop a process wait until
//   the record is whole. A record that cannot be written whole is cut off
//   again, so a failed write leaves the file as it was.
// - An operator may replace the file (to trim it) while holding the same
//   lock: a writer that finds, once it has the lock, that the path names
//   another file now starts again with that one.
// - Readers take no lock, so no writer can keep them waiting: they read up
//   to the end of the last whole record they find, and everything before it
//   is finished and never changes again.
// - A missing file holds no pages yet. A file that is there but cannot be
//   read (an I/O error, a network file system that lost its servers, no
//   permission, a folder in its place) is not taken for an empty one: the
//   reader says so, and one line on standard error names the file and the
//   cause, for the operator.
// - Reading streams the file through a buffer of fixed size: memory does not
//   grow with the file, nor with the length of a line.
class PageFile {
public:
    explicit PageFile(std::string path);

    const std::string& path() const { return filePath; }

    // How long a writer waits for another game to finish its record before
    // it gives up; the page then stays with the player.
    static constexpr std::chrono::milliseconds lockWait{3000};
    // How much of the file a reader takes in at a time.
    static constexpr std::size_t readBlock = std::size_t{256} * 1024;

    // Appends the record of one page. True once the whole record is in the
    // file; false, with the file as it was, when it cannot be opened, locked
    // or written (missing directory, read-only, not a regular file, disk
    // full, size limit, another game holding the lock too long); then one
    // line on standard error names the file and the cause, for the
    // operator. A text that holds a line end would break the format and is
    // refused. A page file this creates is readable and writable by its
    // owner and group only.
    bool append(unsigned long long number, std::string_view text) const;

    // Receives a text in pieces, in order, without its line end.
    using TextPiece = std::function<void(std::string_view)>;

    // What a reading came to: NoFile when there is no page file (no pages
    // yet), Unreadable when it is there but could not be read to its end
    // (the pieces handed on before the failure may end in the middle of a
    // text).
    enum class Lookup { Found, NotFound, NoFile, Unreadable };
    enum class Listing { Listed, NoFile, Unreadable };

    // Finds the first line equal to key, whole and byte for byte (the file's
    // start is a line start), and hands the line after it (empty if there is
    // none) to piece. finder does the scanning; any finder gives the same
    // answers.
    Lookup findText(std::string_view key, const TextPiece& piece, PatternFinder finder = fastestPatternFinder) const;

    // Lists the texts: while the file has not come to its end, reads a line
    // (the page number) and the next line (the text) and hands the text to
    // piece and then calls endOfText. The end is noticed only by a read that
    // fails, so after the last whole record there is one more pass, with an
    // empty text. Nothing is handed on if the file cannot be opened.
    Listing listTexts(const TextPiece& piece, const std::function<void()>& endOfText) const;

private:
    std::string filePath;
};
