#include "LineInput.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <istream>
#include <limits>
#include <new>
#include <optional>
#include <vector>

namespace {

// Lines come in through a buffer of this size.
constexpr std::size_t readChunk = std::size_t{64} * 1024;

// The memory limit of this process's control group (a service's MemoryMax=),
// if it has one.
std::optional<unsigned long long> groupMemoryLimit()
{
    std::ifstream groups("/proc/self/cgroup");
    std::string entry;
    while (std::getline(groups, entry)) {
        if (entry.rfind("0::", 0) == 0) {
            std::ifstream limit("/sys/fs/cgroup" + entry.substr(3) + "/memory.max");
            unsigned long long bytes = 0;
            if (limit >> bytes) { // "max" means none
                return bytes;
            }
        }
    }
    return std::nullopt;
}

// Gathers a line into the caller's string up to a limit; past it, and when
// memory runs out, the rest of the line is only counted as cut. The first
// chunk goes straight into the string, whose room serves line after line;
// further chunks of a long line are kept aside and joined once at its end,
// so that a long line is never held in a string that doubles as it grows.
class LineGatherer {
public:
    LineGatherer(std::string& line, std::size_t limit) : line(line), room(limit) { line.clear(); }

    // Sets the limit from now on; what was kept beyond it is cut.
    void limitTo(std::size_t limit)
    {
        if (kept > limit) {
            line.resize(limit);
            kept = limit;
            cut = true;
        }
        room = limit - kept;
    }

    void keep(const char* data, std::size_t length)
    {
        if (length > room) {
            length = room;
            cut = true;
        }
        try {
            if (first) {
                line.assign(data, length);
                first = false;
            } else if (length > 0) {
                more.emplace_back(data, length);
            }
            room -= length;
            kept += length;
        } catch (const std::bad_alloc&) {
            dropAll();
        }
    }

    // Puts the chunks kept aside behind the first: one allocation of the
    // line's size.
    void finish()
    {
        if (more.empty()) {
            return;
        }
        try {
            line.reserve(kept);
            for (std::string& piece : more) {
                line += piece;
                std::string().swap(piece);
            }
        } catch (const std::bad_alloc&) {
            dropAll();
        }
        more.clear();
    }

    bool wasCut() const { return cut; }

private:
    void dropAll()
    {
        std::string().swap(line);
        std::vector<std::string>().swap(more);
        room = 0;
        kept = 0;
        first = false;
        cut = true;
    }

    std::string& line;
    std::vector<std::string> more;
    std::size_t room;
    std::size_t kept = 0;
    bool first = true;
    bool cut = false;
};

} // namespace

std::size_t LineInput::defaultLineLimit()
{
    // The least of the machine's memory, the process's address-space and
    // data limits, and its control group's limit, as they are when the
    // first game starts: they are set before the program runs.
    static const std::size_t limit = [] {
        const long pageCount = ::sysconf(_SC_PHYS_PAGES);
        const long pageBytes = ::sysconf(_SC_PAGESIZE);
        unsigned long long memory = std::numeric_limits<unsigned long long>::max();
        if (pageCount > 0 && pageBytes > 0) {
            memory = static_cast<unsigned long long>(pageCount) * static_cast<unsigned long long>(pageBytes);
        }
        for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
            rlimit processLimit{};
            if (::getrlimit(resource, &processLimit) == 0 && processLimit.rlim_cur != RLIM_INFINITY) {
                memory = std::min<unsigned long long>(memory, processLimit.rlim_cur);
            }
        }
        if (const std::optional<unsigned long long> group = groupMemoryLimit()) {
            memory = std::min(memory, *group);
        }
        return static_cast<std::size_t>(std::min<unsigned long long>(memory / 8, SIZE_MAX));
    }();
    return limit;
}

bool LineInput::read(std::string& line)
{
    lineCut = false;
    std::array<char, readChunk> chunk;
    // Without a limit of its own, a line is held to the default limit once
    // it fills a chunk; one chunk is far below any limit memory sets.
    LineGatherer gatherer(line, longestLine != 0 ? longestLine : SIZE_MAX);
    bool any = false;   // anything read, a line end included
    bool ended = false; // the line was ended by a line end
    for (bool firstChunk = true;; firstChunk = false) {
        in.getline(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        any = any || got > 0;
        // getline fails without reaching the end of input when the chunk is
        // full; the line goes on.
        const bool full = in.fail() && !in.eof() && !in.bad();
        ended = !in.fail() && !in.eof();
        gatherer.keep(chunk.data(), ended ? got - 1 : got);
        if (!full) {
            break;
        }
        if (firstChunk && longestLine == 0) {
            gatherer.limitTo(defaultLineLimit());
        }
        in.clear();
    }
    // A stream gone bad was broken off in the middle of a line (a served
    // player's interrupt, see DescriptorInput): that line is dropped, as a
    // terminal's interrupt drops a half-typed line, and the input ends.
    if (!any || in.bad()) {
        line.clear();
        return false;
    }
    gatherer.finish();
    lineCut = gatherer.wasCut();
    // A CR right before the LF is part of the line end (telnet-style clients).
    if (ended && !lineCut && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}
