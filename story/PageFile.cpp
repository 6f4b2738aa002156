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

// False if the bytes cannot be read: errno says why, or is 0 when the file
// ended before them.
bool preadAll(int fd, char* into, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = 0;
            }
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
// Empty if the file cannot be read (errno says why, as for preadAll).
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

// The cause of a failed open, lock, read or write, in the words an operator
// acts on.
std::string describeError(int error, bool writing)
{
    const char* cause = nullptr;
    switch (error) {
    case EFBIG:
        cause = "the file has reached the size limit for files";
        break;
    case ENOSPC:
        cause = "the disk is full";
        break;
    case EDQUOT:
        cause = "the disk quota is used up";
        break;
    case EACCES:
    case EPERM:
        cause = writing ? "the game may not write it" : "the game may not read it";
        break;
    case EROFS:
        cause = "the file system is read-only";
        break;
    case ENOENT:
    case ENOTDIR:
        cause = "its folder does not exist";
        break;
    case EISDIR:
        cause = "it is a folder";
        break;
    case ENOTCONN:
        cause = "its file system has lost its connection";
        break;
    default:
        break;
    }
    const std::string system = std::strerror(error);
    return cause == nullptr ? system : cause + (" (" + system + ")");
}

// Why the page file cannot be read, told to the operator on the game's
// standard error, which a served game's unit sends to the journal.
void cannotRead(const std::string& path, std::string_view why)
{
    std::cerr << "weekend: cannot read the pages in " << path << ": " << why << '\n';
}

// The page file opened for reading, up to the end of the last whole record
// it holds. Non-blocking, so that a FIFO in its place cannot stall the game.
// A missing file holds no pages yet; one that is there but cannot be opened
// or read, or is no regular file, is told to the operator.
class PagesForReading {
public:
    enum class State { Open, NoFile, Failed };

    explicit PagesForReading(const std::string& path) : file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        if (!file.valid()) {
            if (errno == ENOENT) {
                openState = State::NoFile;
            } else {
                fail(path, describeError(errno, false));
            }
            return;
        }
        // A writer may cut an unfinished record off the end while this looks
        // for it (writers take the lock, readers do not): the end is then
        // looked for again in the shorter file.
        constexpr int tries = 4;
        for (int attempt = 1;; ++attempt) {
            struct stat status {};
            if (::fstat(file.get(), &status) != 0) {
                fail(path, describeError(errno, false));
                return;
            }
            if (!S_ISREG(status.st_mode)) {
                fail(path, S_ISDIR(status.st_mode) ? describeError(EISDIR, false) : "it is not a regular file");
                return;
            }
            const std::optional<off_t> end = wholeRecordsEnd(file.get(), status.st_size);
            if (end) {
                wholeEnd = *end;
                break;
            }
            if (errno != 0 || attempt == tries) {
                fail(path, describeError(errno != 0 ? errno : EIO, false));
                return;
            }
        }
        ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    State state() const { return openState; }
    int fd() const { return file.get(); }
    // The end of the last whole record.
    off_t limit() const { return wholeEnd; }

private:
    void fail(const std::string& path, std::string_view why)
    {
        cannotRead(path, why);
        openState = State::Failed;
    }

    Descriptor file;
    State openState = State::Open;
    off_t wholeEnd = 0;
};

// A reader's answer when the page file is not open: NoFile without one,
// Unreadable when it could not be opened. Empty while it is open.
template <typename Outcome>
std::optional<Outcome> unopened(const PagesForReading& file)
{
    switch (file.state()) {
    case PagesForReading::State::NoFile:
        return Outcome::NoFile;
    case PagesForReading::State::Failed:
        return Outcome::Unreadable;
    case PagesForReading::State::Open:
        break;
    }
    return std::nullopt;
}

// Reads the page file up to a fixed limit, readBlock bytes at a time.
class BlockReader {
public:
    BlockReader(int fd, off_t limit) : fd(fd), remaining(limit > 0 ? static_cast<std::size_t>(limit) : 0) {}

    // Reads the next block into into; 0 at the limit, at the end of the file
    // or on a read error, all of which end the reading.
    std::size_t next(char* into)
    {
        while (remaining > 0) {
            const ssize_t got = ::read(fd, into, std::min(remaining, PageFile::readBlock));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                error = errno;
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

    // Whether the reading ended on a read error; if so, tells the operator.
    bool failed(const std::string& path) const
    {
        if (error != 0) {
            cannotRead(path, describeError(error, false));
        }
        return error != 0;
    }

private:
    int fd;
    std::size_t remaining;
    int error = 0;
};

// Reads the page file line by line through one block-sized buffer.
class LineReader {
public:
    LineReader(int fd, off_t limit) : blocks(fd, limit), buffer(PageFile::readBlock) {}

    bool failed(const std::string& path) const { return blocks.failed(path); }

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

enum class Lock { Taken, Held, Failed };

// Takes the exclusive lock, waiting until deadline at most for the game that
// holds it: a game stopped while it holds the lock (Ctrl-Z, SIGSTOP) must
// not stall every other player's hide.
Lock lockBefore(int fd, std::chrono::steady_clock::time_point deadline)
{
    using Clock = std::chrono::steady_clock;
    std::chrono::microseconds pause{50};
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return Lock::Failed;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return Lock::Held;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds{5000});
    }
    return Lock::Taken;
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

// Whether the file open at fd is still the one at path: an operator who
// trims the page file moves a new one into its place.
bool isStillAt(int fd, const std::string& path)
{
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// A record that could not be written, told to the operator on the game's
// standard error, which a served game's unit sends to the journal. Always
// false: the caller returns it.
bool failed(const std::string& path, std::string_view why)
{
    std::cerr << "weekend: cannot hide a page in " << path << ": " << why << '\n';
    return false;
}

// Appends the record to the page file open at fd, whose lock the caller
// holds: cuts off an unfinished record first, writes the record whole or
// not at all, and lets go of the lock.
bool appendLocked(int fd, const std::string& path, std::string_view numberLine, std::string_view text)
{
    const SignalsHeldBack held;
    // A call that fails without saying why (a read or write of nothing)
    // counts as an I/O error.
    errno = 0;
    const auto lastError = [] { return errno != 0 ? errno : EIO; };
    int error = 0;
    std::optional<off_t> size = regularFileSize(fd);
    if (!size || !cutUnfinishedRecord(fd, *size, path)) {
        error = lastError();
    } else if (!writeRecord(fd, numberLine, text) || ::fdatasync(fd) != 0) {
        // Made durable before the lock is let go: an error that would only
        // show when the file is closed shows here, while the record can
        // still be cut off.
        error = lastError();
        truncateTo(fd, *size);
    }
    unlock(fd);
    return error == 0 || failed(path, describeError(error, true));
}

} // namespace

PageFile::PageFile(std::string path) : filePath(std::move(path)) {}

bool PageFile::append(unsigned long long number, std::string_view text) const
{
    if (text.find('\n') != std::string_view::npos) {
        return failed(filePath, "the page text holds a line end");
    }
    const std::string numberLine = NrToString(number) + '\n';
    const auto deadline = std::chrono::steady_clock::now() + lockWait;
    while (true) {
        const Descriptor file(::open(filePath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0660));
        if (!file.valid()) {
            return failed(filePath, describeError(errno, true));
        }
        if (!regularFileSize(file.get())) {
            return failed(filePath, "it is not a regular file");
        }
        switch (lockBefore(file.get(), deadline)) {
        case Lock::Held:
            return failed(filePath, "another game has held it locked for " + std::to_string(lockWait.count()) + " ms");
        case Lock::Failed:
            return failed(filePath, describeError(errno, true));
        case Lock::Taken:
            break;
        }
        if (isStillAt(file.get(), filePath)) {
            return appendLocked(file.get(), filePath, numberLine, text);
        }
        // Replaced while this game waited for the lock: the record goes into
        // the new file, not into the old one that nobody reads any more.
        unlock(file.get());
    }
}

PageFile::Lookup PageFile::findText(std::string_view key, const TextPiece& piece, PatternFinder finder) const
{
    const PagesForReading file(filePath);
    if (const std::optional<Lookup> answer = unopened<Lookup>(file)) {
        return *answer;
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
    BlockReader blocks(file.fd(), file.limit());

    readArea[-1] = '\n';
    std::size_t carried = 1;
    while (true) {
        const std::size_t got = blocks.next(readArea);
        if (got == 0) {
            return blocks.failed(filePath) ? Lookup::Unreadable : Lookup::NotFound;
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
            return blocks.failed(filePath) ? Lookup::Unreadable : Lookup::Found;
        }
        carried = std::min(pattern.size() - 1, windowSize);
        std::memmove(readArea - carried, window + windowSize - carried, carried);
    }
}

PageFile::Listing PageFile::listTexts(const TextPiece& piece, const std::function<void()>& endOfText) const
{
    const PagesForReading file(filePath);
    if (const std::optional<Listing> answer = unopened<Listing>(file)) {
        return *answer;
    }
    LineReader reader(file.fd(), file.limit());
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
        if (reader.failed(filePath)) {
            return Listing::Unreadable;
        }
        endOfText();
    }
    return Listing::Listed;
}
