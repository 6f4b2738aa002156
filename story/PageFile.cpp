#include "PageFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "Pages.h"

namespace {

// Reads land on page boundaries: the kernel copies into a page-aligned
// buffer markedly faster than into one that is not.
constexpr std::size_t pageSize = 4096;

std::size_t roundUpToPages(std::size_t size) { return (size + pageSize - 1) / pageSize * pageSize; }

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int get() const { return fd; }
    bool valid() const { return fd >= 0; }

private:
    int fd;
};

// A buffer that starts on a page boundary.
class AlignedBuffer {
public:
    explicit AlignedBuffer(std::size_t size)
        : bytes(static_cast<char*>(std::aligned_alloc(pageSize, roundUpToPages(size))))
    {
        if (bytes == nullptr) {
            throw std::bad_alloc();
        }
    }
    char* data() const { return bytes.get(); }

private:
    struct Free {
        void operator()(char* memory) const { std::free(memory); }
    };
    std::unique_ptr<char, Free> bytes;
};

// The size of a regular file; empty for anything else (a directory, a FIFO).
std::optional<off_t> regularFileSize(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return status.st_size;
}

bool preadAll(int fd, char* into, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        into += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// Reads a file from its end backwards, a block at a time.
class TailReader {
public:
    explicit TailReader(int fd) : fd(fd) {}

    // The byte at offset, or -1 if it cannot be read.
    int at(off_t offset)
    {
        if (offset < start || offset >= start + static_cast<off_t>(length)) {
            constexpr auto blockSize = static_cast<off_t>(sizeof(block));
            start = offset >= blockSize ? offset + 1 - blockSize : 0;
            length = static_cast<std::size_t>(offset + 1 - start);
            if (!preadAll(fd, block, length, start)) {
                length = 0;
                return -1;
            }
        }
        return static_cast<unsigned char>(block[offset - start]);
    }

private:
    int fd;
    char block[pageSize]{};
    off_t start = 0;
    std::size_t length = 0;
};

// Where the whole records among the first size bytes of the page file end:
// before a last line without a line end, and then before a number line left
// without its text line. A number line is digits only; a text is empty or
// ends with a blank, so a line of digits at the end is always a number.
// Empty if the file cannot be read.
std::optional<off_t> wholeRecordsEnd(int fd, off_t size)
{
    TailReader tail(fd);
    off_t end = size;
    while (end > 0) {
        const int byte = tail.at(end - 1);
        if (byte < 0) {
            return std::nullopt;
        }
        if (byte == '\n') {
            break;
        }
        --end;
    }
    if (end == 0) {
        return 0;
    }
    // The last line runs from start up to its line end at end - 1.
    off_t start = end - 1;
    while (start > 0) {
        const int byte = tail.at(start - 1);
        if (byte < 0) {
            return std::nullopt;
        }
        if (!isDigit(byte)) {
            break;
        }
        --start;
    }
    const bool numberLine = start < end - 1 && (start == 0 || tail.at(start - 1) == '\n');
    return numberLine ? start : end;
}

// Opens the page file for reading. Non-blocking, so that a FIFO in its place
// cannot stall the game; anything but a regular file counts as not there.
// limit receives the end of the last whole record.
int openForReading(const std::string& path, off_t& limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    const std::optional<off_t> size = regularFileSize(fd);
    const std::optional<off_t> end = size ? wholeRecordsEnd(fd, *size) : std::nullopt;
    if (!end) {
        ::close(fd);
        return -1;
    }
    limit = *end;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

// Reads the page file up to a fixed limit, readBlock bytes at a time.
class BlockReader {
public:
    BlockReader(int fd, off_t limit) : fd(fd), remaining(limit > 0 ? static_cast<std::size_t>(limit) : 0) {}

    // Reads the next block into into; 0 at the limit, at the end of the file
    // or on a read error, all of which end the reading alike.
    std::size_t next(char* into)
    {
        while (remaining > 0) {
            const ssize_t got = ::read(fd, into, std::min(remaining, PageFile::readBlock));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            remaining -= static_cast<std::size_t>(got);
            return static_cast<std::size_t>(got);
        }
        remaining = 0;
        return 0;
    }

private:
    int fd;
    std::size_t remaining;
};

// Reads the page file line by line through one block-sized buffer.
class LineReader {
public:
    LineReader(int fd, off_t limit) : blocks(fd, limit), buffer(PageFile::readBlock) {}

    enum class Line {
        Ended, // a line ended by '\n'
        Last,  // a last line without '\n'
        None,  // nothing more to read
    };

    // Reads the next line and hands it to piece (if given), in pieces.
    Line read(const PageFile::TextPiece* piece)
    {
        bool any = false;
        while (true) {
            if (pos == end) {
                pos = 0;
                end = blocks.next(buffer.data());
                if (end == 0) {
                    return any ? Line::Last : Line::None;
                }
            }
            const char* start = buffer.data() + pos;
            const auto* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end - pos));
            const std::size_t stop = lineEnd != nullptr ? static_cast<std::size_t>(lineEnd - buffer.data()) : end;
            if (stop > pos) {
                any = true;
                if (piece != nullptr) {
                    (*piece)(std::string_view(start, stop - pos));
                }
            }
            if (lineEnd != nullptr) {
                pos = stop + 1;
                return Line::Ended;
            }
            pos = end;
        }
    }

private:
    BlockReader blocks;
    AlignedBuffer buffer;
    std::size_t pos = 0;
    std::size_t end = 0;
};

// Takes the exclusive lock, waiting at most wait for the game that holds it:
// a game stopped while it holds the lock (Ctrl-Z, SIGSTOP) must not stall
// every other player's hide.
bool lockWithin(int fd, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    std::chrono::microseconds pause{50};
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds{5000});
    }
    return true;
}

void unlock(int fd)
{
    while (::flock(fd, LOCK_UN) != 0 && errno == EINTR) {
    }
}

// While a record is written, the signals that end or stop a process (a
// hang-up, Ctrl-C, Ctrl-Z, kill) are held back; they act as soon as the
// record is whole and this goes out of scope. SIGXFSZ is ignored meanwhile,
// so that a write past the file-size limit fails (EFBIG) like any other and
// the record is cut off again. SIGPIPE is ignored for the whole game.
class SignalsHeldBack {
public:
    SignalsHeldBack()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU}) {
            sigaddset(&held, signal);
        }
        blocked = ::sigprocmask(SIG_BLOCK, &held, &previousMask) == 0;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ignoring = ::sigaction(SIGXFSZ, &ignore, &previousAction) == 0;
    }
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;
    ~SignalsHeldBack()
    {
        if (ignoring) {
            ::sigaction(SIGXFSZ, &previousAction, nullptr);
        }
        if (blocked) {
            ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        }
    }

private:
    sigset_t previousMask{};
    struct sigaction previousAction {};
    bool blocked = false;
    bool ignoring = false;
};

// Writes the record at the end of an O_APPEND descriptor in one go where
// the kernel takes it, retrying short writes; the caller holds the lock.
bool writeRecord(int fd, std::string_view numberLine, std::string_view text)
{
    char lineEnd = '\n';
    iovec parts[] = {
        {const_cast<char*>(numberLine.data()), numberLine.size()},
        {const_cast<char*>(text.data()), text.size()},
        {&lineEnd, 1},
    };
    iovec* next = parts;
    int left = 3;
    while (left > 0) {
        const ssize_t written = ::writev(fd, next, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        auto done = static_cast<std::size_t>(written);
        while (left > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

bool truncateTo(int fd, off_t size)
{
    while (::ftruncate(fd, size) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Cuts off an unfinished record that a writer killed in its middle left at
// the end of the file, so that the next record starts on a line of its own.
// size is the file's size and becomes the size after the cut. Nothing whole
// is ever cut. False if the end of the file cannot be read or cut.
bool cutUnfinishedRecord(int fd, off_t& size, const std::string& path)
{
    const std::optional<off_t> end = wholeRecordsEnd(fd, size);
    if (!end) {
        return false;
    }
    if (*end == size) {
        return true;
    }
    if (!truncateTo(fd, *end)) {
        return false;
    }
    std::cerr << "weekend: cut " << size - *end << " bytes of an unfinished record off the end of " << path << '\n';
    size = *end;
    return true;
}

} // namespace

PageFile::PageFile(std::string path) : filePath(std::move(path)) {}

bool PageFile::append(unsigned long long number, std::string_view text) const
{
    if (text.find('\n') != std::string_view::npos) {
        return false;
    }
    const std::string numberLine = NrToString(number) + '\n';
    const Descriptor file(::open(filePath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0660));
    if (!file.valid() || !regularFileSize(file.get()) || !lockWithin(file.get(), lockWait)) {
        return false;
    }
    const SignalsHeldBack held;
    bool written = false;
    std::optional<off_t> size = regularFileSize(file.get());
    if (size && cutUnfinishedRecord(file.get(), *size, filePath)) {
        // Durable before the lock is let go: an error that would only show
        // when the file is closed shows here, while the record can still be
        // cut off.
        written = writeRecord(file.get(), numberLine, text) && ::fdatasync(file.get()) == 0;
        if (!written) {
            truncateTo(file.get(), *size);
        }
    }
    unlock(file.get());
    return written;
}

PageFile::Lookup PageFile::findText(std::string_view key, const TextPiece& piece, PatternFinder finder) const
{
    off_t limit = 0;
    const Descriptor file(openForReading(filePath, limit));
    if (!file.valid()) {
        return Lookup::CannotOpen;
    }
    // A line equal to key is "\nKEY\n" in the file, with a line end thought
    // before its start. Each block is searched together with the last bytes
    // of the one before, so a pattern across two blocks is found too; those
    // bytes go just before the read area, which stays page-aligned.
    std::string pattern;
    pattern.reserve(key.size() + 2);
    pattern += '\n';
    pattern += key;
    pattern += '\n';
    const std::size_t carryRoom = roundUpToPages(pattern.size());
    const AlignedBuffer buffer(carryRoom + readBlock);
    char* const readArea = buffer.data() + carryRoom;
    BlockReader blocks(file.get(), limit);

    readArea[-1] = '\n';
    std::size_t carried = 1;
    while (true) {
        const std::size_t got = blocks.next(readArea);
        if (got == 0) {
            return Lookup::NotFound;
        }
        const char* window = readArea - carried;
        const std::size_t windowSize = carried + got;
        const std::size_t at = finder(window, windowSize, pattern);
        if (at != noMatch) {
            // The text: the line after the key's, read on as far as it goes.
            std::string_view rest(window + at + pattern.size(), windowSize - at - pattern.size());
            while (true) {
                const std::size_t lineEnd = rest.find('\n');
                const std::string_view text = rest.substr(0, lineEnd);
                if (!text.empty()) {
                    piece(text);
                }
                if (lineEnd != std::string_view::npos) {
                    break;
                }
                rest = std::string_view(readArea, blocks.next(readArea));
                if (rest.empty()) {
                    break;
                }
            }
            return Lookup::Found;
        }
        carried = std::min(pattern.size() - 1, windowSize);
        std::memmove(readArea - carried, window + windowSize - carried, carried);
    }
}

bool PageFile::listTexts(const TextPiece& piece, const std::function<void()>& endOfText) const
{
    off_t limit = 0;
    const Descriptor file(openForReading(filePath, limit));
    if (!file.valid()) {
        return false;
    }
    LineReader reader(file.get(), limit);
    // Each pass reads two lines; the file counts as readable again only if
    // the text line was ended by a line end, as with a line-reading stream
    // that is tested for its end before each pair of reads.
    bool readable = true;
    while (readable) {
        const LineReader::Line number = reader.read(nullptr);
        if (number == LineReader::Line::Ended) {
            readable = reader.read(&piece) == LineReader::Line::Ended;
        } else {
            readable = false;
        }
        endOfText();
    }
    return true;
}
