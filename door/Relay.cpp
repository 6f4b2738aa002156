#include "Relay.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DoorIo.h"
#include "HeldGames.h"
#include "Secret.h"
#include "WebFrames.h"

namespace {

// How long a page has for its hello line; an old page open across an
// upgrade sends none.
constexpr auto helloWait = std::chrono::seconds(5);
constexpr std::size_t chunk = std::size_t{64} * 1024;

// The player's address: websocketd's REMOTE_ADDR, or, behind a proxy on
// this machine, the address the proxy passes on in X-Real-IP.
std::string playerAddress()
{
    const auto valid = [](const char* text) {
        if (text == nullptr) {
            return false;
        }
        unsigned char address[sizeof(in6_addr)];
        return ::inet_pton(AF_INET, text, address) == 1 || ::inet_pton(AF_INET6, text, address) == 1;
    };
    const char* remote = std::getenv("REMOTE_ADDR");
    const char* forwarded = std::getenv("HTTP_X_REAL_IP");
    if (!valid(remote)) {
        return "unknown";
    }
    const std::string direct = remote;
    const bool viaLocalProxy = direct.starts_with("127.") || direct == "::1" || direct.starts_with("::ffff:127.");
    return viaLocalProxy && valid(forwarded) ? forwarded : direct;
}

void end(std::string_view why)
{
    std::string bytes;
    frame::append(bytes, frame::end, why);
    writeAllBefore(STDOUT_FILENO, bytes, Clock::now() + std::chrono::seconds(5));
}

// A door of its own for a new game, where no socket unit starts one: it
// runs in a session of its own, apart from this relay, so that websocketd
// ending the relay does not end it.
int startDoor(const RelaySettings& settings)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            ::dup2(pair[1], STDIN_FILENO);
            ::dup2(pair[1], STDOUT_FILENO);
            const std::string folder = "--held-dir=" + settings.heldFolder;
            char* const arguments[] = {const_cast<char*>(settings.self.c_str()), const_cast<char*>(folder.c_str()),
                                       const_cast<char*>(settings.game.c_str()), nullptr};
            ::execv(settings.self.c_str(), arguments);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(pair[1]);
    if (child < 0) {
        ::close(pair[0]);
        return -1;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return pair[0];
}

// Passes bytes both ways until either side ends; what the door sent is
// watched for its frames. True if the door ended first.
bool pass(int door, std::string pending, frame::Watcher& watcher)
{
    setNonBlocking(door);
    setNonBlocking(STDIN_FILENO);
    setNonBlocking(STDOUT_FILENO);
    std::string toPage;
    std::vector<char> buffer(chunk);
    bool pageOpen = true;
    while (true) {
        std::vector<pollfd> watched;
        if (pageOpen && pending.size() < chunk) {
            watched.push_back({STDIN_FILENO, POLLIN, 0});
        }
        if (!pending.empty()) {
            watched.push_back({door, POLLOUT, 0});
        }
        if (toPage.size() < chunk) {
            watched.push_back({door, POLLIN, 0});
        }
        if (!toPage.empty()) {
            watched.push_back({STDOUT_FILENO, POLLOUT, 0});
        }
        if (watched.empty() || waitFor(watched, std::nullopt) < 0) {
            continue;
        }
        for (const pollfd& ready : watched) {
            if (ready.revents == 0) {
                continue;
            }
            if (ready.fd == STDIN_FILENO) {
                const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
                if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                    return false; // the page went away: the door holds the game
                }
                if (got > 0) {
                    pending.append(buffer.data(), static_cast<std::size_t>(got));
                }
            } else if (ready.fd == door && (ready.events & POLLIN) != 0) {
                const ssize_t got = ::read(door, buffer.data(), buffer.size());
                if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                    writeAllBefore(STDOUT_FILENO, toPage, Clock::now() + std::chrono::seconds(5));
                    return true;
                }
                if (got > 0) {
                    const std::string_view bytes(buffer.data(), static_cast<std::size_t>(got));
                    watcher.pass(bytes);
                    toPage.append(bytes);
                }
            } else if (ready.fd == door) {
                const ssize_t wrote = ::write(door, pending.data(), pending.size());
                if (wrote > 0) {
                    pending.erase(0, static_cast<std::size_t>(wrote));
                } else if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
                    pending.clear();
                    pageOpen = false; // the door is gone; what it said last comes on its end
                }
            } else {
                const ssize_t wrote = ::write(STDOUT_FILENO, toPage.data(), toPage.size());
                if (wrote > 0) {
                    toPage.erase(0, static_cast<std::size_t>(wrote));
                } else if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
                    return false; // websocketd is closing the page's connection
                }
            }
        }
    }
}

} // namespace

int relay(const RelaySettings& settings)
{
    // Non-blocking, so that a page that says nothing is let go in time.
    setNonBlocking(STDIN_FILENO);
    std::string hello;
    std::string rest;
    if (!readLine(STDIN_FILENO, hello, rest, nullptr, Clock::now() + helloWait)) {
        // An old page, or something else than the page: plain words it can show.
        writeAllBefore(STDOUT_FILENO, "This page is out of date: reload it to play.\n",
                       Clock::now() + std::chrono::seconds(5));
        return 0;
    }
    const std::vector<std::string> parts = splitWords(hello);
    const std::string address = playerAddress();
    const HeldGames held(settings.heldFolder);
    int door = -1;
    const bool fresh = parts.size() == 2 && parts[0] == "weekend/1" && parts[1] == "new";
    if (fresh) {
        const int games = settings.heldFolder.empty() ? 0 : held.countFrom("web " + address);
        if (games >= settings.perAddress) {
            say("a web player at " + address + " has " + std::to_string(games) + " games already: no new one");
            end(frame::full);
            return 0;
        }
        // A new game's door: through the socket unit that starts one
        // (weekend@web.socket), or else one of this relay's own.
        door = settings.spawnSocket.empty() ? startDoor(settings) : connectUnix(settings.spawnSocket);
        if (door < 0) {
            say("no new game could be started: " + std::string(std::strerror(errno)));
            end(frame::full);
            return 0;
        }
        writeAllBefore(door, "new " + address + "\n", Clock::now() + std::chrono::seconds(5));
    } else {
        std::uint64_t seen = 0;
        const std::string token =
            parts.size() == 4 && parts[0] == "weekend/1" && parts[1] == "resume" ? secret::normalize(parts[2]) : "";
        if (token.size() == secret::tokenLength && parseNumber(parts[3], seen) && !settings.heldFolder.empty()) {
            door = held.connect(token);
        }
        if (door < 0) {
            end(frame::expired);
            return 0;
        }
        writeAllBefore(door, "resume web " + token + " " + std::to_string(seen) + " " + address + "\n",
                       Clock::now() + std::chrono::seconds(5));
    }
    frame::Watcher watcher;
    const bool doorEnded = pass(door, rest, watcher);
    ::close(door);
    if (doorEnded && watcher.betweenFrames() && !watcher.sawEnd()) {
        // The door went away without a word: none could be had, or it was killed.
        end(!watcher.sawAny() ? (fresh ? frame::full : frame::expired) : frame::stopped);
    }
    return 0;
}
