#include "PageFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <utility>

#include "Pages.h"

namespace {

// Big enough that reading costs few system calls, small enough that a
// search's memory stays flat however large the file grows.
constexpr std::size_t readBufferSize = std::size_t{64} * 1024;

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

bool lockFile(int fd, int operation)
{
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool isRegularFile(int fd, off_t* size)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    if (size != nullptr) {
        *size = status.st_size;
    }
    return true;
}

// Opens the page file for reading. Non-blocking, so that a FIFO in its place
// cannot stall the game; anything but a regular file counts as not there.
// limit receives how far the file holds whole records: its size as seen
// under the shared lock, which no writer holds in the middle of a record.
int openForReading(const std::string& path, off_t& limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (!isRegularFile(fd, nullptr) || !lockFile(fd, LOCK_SH)) {
        ::close(fd);
        return -1;
    }
    const bool sized = isRegularFile(fd, &limit);
    lockFile(fd, LOCK_UN);
    if (!sized) {
        ::close(fd);
        return -1;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

// A write that would pass the process's file size limit raises SIGXFSZ,
// which by default ends the process, possibly in the middle of a record.
// While a record is written the signal is ignored, so that such a write
// fails (EFBIG) like any other and the record is cut off again.
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        saved = ::sigaction(SIGXFSZ, &ignore, &previous) == 0;
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;
    ~FileSizeSignalIgnored()
    {
        if (saved) {
            ::sigaction(SIGXFSZ, &previous, nullptr);
        }
    }

private:
    struct sigaction previous {};
    bool saved = false;
};

// Writes all of data at the end of an O_APPEND descriptor, retrying short
// writes; the caller holds the exclusive lock, so nothing comes in between.
bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
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

// Reads the page file up to a fixed limit through one buffer of fixed size.
class LineReader {
public:
    LineReader(int fd, off_t limit)
        : fd(fd), remaining(limit > 0 ? static_cast<std::size_t>(limit) : 0),
          buffer(std::make_unique_for_overwrite<char[]>(readBufferSize))
    {
    }

    enum class Line {
        Ended, // a line ended by '\n'
        Last,  // a last line that the file ends without '\n'
        None,  // nothing more to read
    };

    // Reads the next line and hands it to piece (if given), in pieces.
    Line read(const PageFile::TextPiece* piece)
    {
        bool any = false;
        while (true) {
            if (pos == end && !fill()) {
                return any ? Line::Last : Line::None;
            }
            const char* start = buffer.get() + pos;
            const auto* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end - pos));
            const std::size_t stop = lineEnd != nullptr ? static_cast<std::size_t>(lineEnd - buffer.get()) : end;
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

    // Skips to just after the first line equal to key. False if there is none.
    bool skipPast(std::string_view key)
    {
        std::size_t length = 0; // of the current line, so far
        bool same = true;       // the current line so far is the start of key
        while (true) {
            if (pos == end && !fill()) {
                // A last line without a line end is a line too.
                return length > 0 && same && length == key.size();
            }
            const char* start = buffer.get() + pos;
            const auto* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end - pos));
            const std::size_t stop = lineEnd != nullptr ? static_cast<std::size_t>(lineEnd - buffer.get()) : end;
            const std::size_t piece = stop - pos;
            if (same) {
                same = length + piece <= key.size() && std::memcmp(start, key.data() + length, piece) == 0;
            }
            length += piece;
            if (lineEnd == nullptr) {
                pos = end;
                continue;
            }
            pos = stop + 1;
            if (same && length == key.size()) {
                return true;
            }
            length = 0;
            same = true;
        }
    }

private:
    // Refills the buffer; false at the limit, at the end of the file or on a
    // read error, all of which end the reading alike.
    bool fill()
    {
        pos = 0;
        end = 0;
        while (remaining > 0) {
            const std::size_t wanted = remaining < readBufferSize ? remaining : readBufferSize;
            const ssize_t got = ::read(fd, buffer.get(), wanted);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                remaining = 0;
                return false;
            }
            end = static_cast<std::size_t>(got);
            remaining -= end;
            return true;
        }
        return false;
    }

    int fd;
    std::size_t remaining;
    std::unique_ptr<char[]> buffer;
    std::size_t pos = 0;
    std::size_t end = 0;
};

} // namespace

PageFile::PageFile(std::string path) : filePath(std::move(path)) {}

bool PageFile::append(unsigned long long number, std::string_view text) const
{
    if (text.find('\n') != std::string_view::npos) {
        return false;
    }
    std::string record = NrToString(number);
    record.reserve(record.size() + text.size() + 2);
    record += '\n';
    record += text;
    record += '\n';

    const FileSizeSignalIgnored signalIgnored;
    const Descriptor file(::open(filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!file.valid() || !isRegularFile(file.get(), nullptr) || !lockFile(file.get(), LOCK_EX)) {
        return false;
    }
    off_t before = 0;
    if (!isRegularFile(file.get(), &before)) {
        lockFile(file.get(), LOCK_UN);
        return false;
    }
    // Durable before the lock is let go: an error that would only show when
    // the file is closed shows here, while the record can still be cut off.
    bool written = writeAll(file.get(), record) && ::fdatasync(file.get()) == 0;
    if (!written) {
        truncateTo(file.get(), before);
    }
    lockFile(file.get(), LOCK_UN);
    return written;
}

PageFile::Lookup PageFile::findText(std::string_view key, const TextPiece& piece) const
{
    off_t limit = 0;
    const Descriptor file(openForReading(filePath, limit));
    if (!file.valid()) {
        return Lookup::CannotOpen;
    }
    LineReader reader(file.get(), limit);
    if (!reader.skipPast(key)) {
        return Lookup::NotFound;
    }
    reader.read(&piece);
    return Lookup::Found;
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
