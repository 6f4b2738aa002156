#pragma once

// The real game binary as a child process: its input is fed by the test,
// line by line or all at once, and its output is collected. The game is
// known to wait for a line when it sits in a read of its standard input
// with everything fed so far consumed; then all it printed before is in
// hand, because it flushes its output before every read. So the output can
// be cut exactly where each line was fed, whatever the text contains.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "Transcript.h"

namespace support {

// The game binary, opened at once: it can still be started after a tmpfs
// has been mounted over the directory it lies in.
class GameBinary {
public:
    explicit GameBinary(const std::string& path);
    ~GameBinary();
    GameBinary(const GameBinary&) = delete;
    GameBinary& operator=(const GameBinary&) = delete;

    const std::string& path() const { return file; }
    int descriptor() const { return fd; }

private:
    std::string file;
    int fd = -1;
};

class GameProcess {
public:
    // Starts the game; with root set it runs chrooted there (the binary
    // need not be inside). Throws std::runtime_error when it cannot start.
    explicit GameProcess(const GameBinary& binary, const std::string& root = "");
    ~GameProcess(); // kills a game still running
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    // Feeds bytes to the game's input, collecting its output meanwhile.
    // Bytes the game no longer reads (it has ended) are dropped.
    void feed(std::string_view bytes);
    // Ends the game's input.
    void endInput();
    // Waits until the game waits for input (true) or has ended (false).
    // Throws std::runtime_error when neither happens before the deadline.
    bool awaitRead(std::chrono::steady_clock::time_point deadline);
    // The output collected since the last call.
    std::string takeOutput();
    // Ends the input (unless told not to: the game is to end by itself),
    // waits for the end and returns the output not yet taken.
    std::string finish(std::chrono::steady_clock::time_point deadline, bool endingInput = true);

    bool ended() const { return pid < 0; }
    // The game's process id while it runs, for sending it signals.
    pid_t id() const { return pid; }
    // Once ended: the exit status, or 128 + the signal that killed it.
    int status() const { return exitStatus; }

private:
    bool collect(int timeoutMs);
    bool waitingForInput() const;
    void reap(bool block);

    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int exitStatus = -1;
    std::string collected;
};

// Plays one whole game: feeds all of input, ends it, and returns the output.
struct Played {
    std::string output;
    int status = -1;
};
Played playAll(const GameBinary& binary, const std::string& input, const std::string& root = "",
               std::chrono::seconds limit = std::chrono::seconds(600));

// Plays a game read by read: each read's bytes are fed when the game asks
// for input, and what it printed before is noted. A read that ends the
// input ends it; if the game asks for more than reads give, it gets the end
// of input too (a last step with an end read). Returns the game as it was
// played: fewer steps than reads if it ended early. After an idle read
// nothing more is fed, and the game must end by itself.
Game playReads(GameProcess& process, const std::vector<Read>& reads, std::chrono::steady_clock::time_point deadline);

// Reads for plain lines, each typed with its line end.
std::vector<Read> typedLines(const std::vector<std::string>& lines);

// "exited with status 1", "killed by signal 11" and the like, for reports.
std::string describeStatus(int status);

} // namespace support
