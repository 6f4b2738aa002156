// Plays one whole game per input: the bytes are what the player types (the
// name line, commands, format confirmations). Every input starts a fresh
// game with an empty page file of its own, so nothing carries over from one
// input to the next.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "Example.h"

namespace {

// Swallows the game's output; the fuzzer looks for crashes, not texts.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char* /*text*/, std::streamsize count) override { return count; }
};

// The page file lives in memory where possible (/dev/shm), since every hide
// syncs its record to the disk and the fuzzer hides a great many pages.
const std::string& pageFilePath()
{
    static const std::string path = [] {
        char inMemory[] = "/dev/shm/weekend-fuzz-XXXXXX";
        char onDisk[] = "/tmp/weekend-fuzz-XXXXXX";
        const char* dir = mkdtemp(inMemory);
        if (dir == nullptr) {
            dir = mkdtemp(onDisk);
        }
        if (dir == nullptr) {
            std::abort();
        }
        return std::string(dir) + "/flags";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    unlink(pageFilePath().c_str());
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    NullBuffer sink;
    std::ostream output(&sink);
    {
        Example game(input, output, pageFilePath());
        game.clearScreen();
        game.init();
        game.play();
    }
    if (AbstractGame::instance != nullptr) {
        std::abort(); // a finished game must not stay reachable
    }
    return 0;
}
