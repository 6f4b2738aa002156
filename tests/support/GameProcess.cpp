#include "GameProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace support {

namespace {

std::runtime_error failure(const std::string& what)
{
    return std::runtime_error(what + " (" + std::strerror(errno) + ")");
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace

GameBinary::GameBinary(const std::string& path) : file(path), fd(open(path.c_str(), O_PATH | O_CLOEXEC))
{
    if (fd < 0) {
        throw failure("cannot open the game binary " + path);
    }
}

GameBinary::~GameBinary() { close(fd); }

GameProcess::GameProcess(const GameBinary& binary, const std::string& root)
{
    // A game that ends while being fed must not end the test with it.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw failure("cannot make pipes for the game");
    }
    // Everything the child needs is made before fork: a test may run
    // several games from threads, and the child must not allocate.
    const std::string& name = binary.path();
    char* const argv[] = {const_cast<char*>(name.c_str()), nullptr};
    const int binaryFd = binary.descriptor();
    const char* const newRoot = root.empty() ? nullptr : root.c_str();
    pid = fork();
    if (pid < 0) {
        throw failure("cannot start the game");
    }
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if (newRoot != nullptr && (chroot(newRoot) != 0 || chdir("/") != 0)) {
            _exit(126);
        }
        // The binary is started through the descriptor opened before any mount hid it.
        syscall(SYS_execveat, binaryFd, "", argv, environ, AT_EMPTY_PATH);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = out[0];
    fcntl(input, F_SETFL, O_NONBLOCK);
    fcntl(output, F_SETFL, O_NONBLOCK);
}

GameProcess::~GameProcess()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        reap(true);
    }
    if (input >= 0) {
        close(input);
    }
    if (output >= 0) {
        close(output);
    }
}

// Reads what the game printed, waiting up to timeoutMs for something to
// arrive. False once its output has ended.
bool GameProcess::collect(int timeoutMs)
{
    if (output < 0) {
        return false;
    }
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) {
        return true;
    }
    char buffer[65536];
    while (true) {
        const ssize_t got = read(output, buffer, sizeof(buffer));
        if (got > 0) {
            collected.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            close(output);
            output = -1;
            return false;
        } else {
            return true; // EAGAIN: all there is for now
        }
    }
}

void GameProcess::feed(std::string_view bytes)
{
    while (!bytes.empty() && input >= 0) {
        const ssize_t written = write(input, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (errno == EPIPE) {
            return; // the game has stopped reading
        }
        // The pipe is full: let the game read while taking in what it prints.
        pollfd ready[2] = {{input, POLLOUT, 0}, {output, POLLIN, 0}};
        poll(ready, output >= 0 ? 2 : 1, 100);
        if ((ready[1].revents & (POLLIN | POLLHUP)) != 0) {
            collect(0);
        }
    }
}

void GameProcess::endInput()
{
    if (input >= 0) {
        close(input);
        input = -1;
    }
}

// True when the game sleeps in a read of its standard input, or in the wait
// for it to become readable (a served game's idle limit; the game polls
// nothing else), and nothing fed is left unread: it asks for more.
bool GameProcess::waitingForInput() const
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The state follows the command name, which is in parentheses.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'S') {
        return false;
    }
    std::ifstream call("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    std::string fd;
    if (call >> number >> fd) {
        const bool reading = (number == SYS_read || number == SYS_readv) && fd == "0x0";
        if (!reading && number != SYS_poll && number != SYS_ppoll) {
            return false;
        }
    } else {
        // Where this process may not see the call (a strict ptrace policy),
        // the kernel function it sleeps in tells the same: its only pipe
        // for reading is its input.
        std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
        std::string where;
        if (!(wchan >> where) ||
            (where.find("pipe_read") == std::string::npos && where.find("poll") == std::string::npos)) {
            return false;
        }
    }
    int unread = 0;
    return input < 0 || (ioctl(input, FIONREAD, &unread) == 0 && unread == 0);
}

void GameProcess::reap(bool block)
{
    if (pid < 0) {
        return; // reaped already; waitpid(-1) would wait for any other child
    }
    int raw = 0;
    const pid_t done = waitpid(pid, &raw, block ? 0 : WNOHANG);
    if (done == pid) {
        exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        pid = -1;
    }
}

bool GameProcess::awaitRead(std::chrono::steady_clock::time_point deadline)
{
    // Short sleeps first: most answers come within a millisecond.
    auto pause = std::chrono::microseconds(20);
    while (true) {
        collect(0);
        reap(false);
        if (pid < 0) {
            while (collect(100)) {
            }
            return false;
        }
        if (waitingForInput()) {
            collect(0); // all it printed before the read
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the game neither asked for input nor ended in time");
        }
        collect(static_cast<int>(pause.count() / 1000));
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
}

std::string GameProcess::takeOutput() { return std::exchange(collected, std::string()); }

std::string GameProcess::finish(std::chrono::steady_clock::time_point deadline, bool endingInput)
{
    if (endingInput) {
        endInput();
    }
    while (collect(std::min(100, millisecondsUntil(deadline)))) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the game did not end in time");
        }
    }
    reap(true);
    return takeOutput();
}

Played playAll(const GameBinary& binary, const std::string& input, const std::string& root, std::chrono::seconds limit)
{
    GameProcess game(binary, root);
    game.feed(input);
    Played played;
    played.output = game.finish(std::chrono::steady_clock::now() + limit);
    played.status = game.status();
    return played;
}

Game playReads(GameProcess& process, const std::vector<Read>& reads, std::chrono::steady_clock::time_point deadline)
{
    Game game;
    bool inputEnded = false;
    bool idled = false;
    for (const Read& read : reads) {
        if (!process.awaitRead(deadline)) {
            break;
        }
        game.steps.push_back({process.takeOutput(), read});
        idled = read.idle;
        if (read.end || read.idle) {
            inputEnded = true;
            break;
        }
        process.feed(read.bytes());
    }
    if (!inputEnded && !process.ended() && process.awaitRead(deadline)) {
        Read end;
        end.end = true;
        end.lineEnd = false;
        game.steps.push_back({process.takeOutput(), end});
    }
    game.finalOutput = process.finish(deadline, !idled);
    return game;
}

std::vector<Read> typedLines(const std::vector<std::string>& lines)
{
    std::vector<Read> reads(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        reads[i].text = lines[i];
        reads[i].typed = lines[i];
    }
    return reads;
}

std::string describeStatus(int status)
{
    if (status > 128) {
        return "was killed by signal " + std::to_string(status - 128) + " (" + strsignal(status - 128) + ")";
    }
    return "exited with status " + std::to_string(status);
}

} // namespace support
