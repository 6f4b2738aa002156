// weekend-door: the serving side of the game, between a player's
// connection and the game itself (README, "Serving it").
//
//   weekend-door [--held-dir=DIR] GAME
//       Serves the connection on standard input and output (a TCP
//       connection from weekend.socket or socat, or a relay's Unix socket
//       from weekend@web.socket): runs GAME for it and holds the game when
//       the connection drops.
//   weekend-door --web [--held-dir=DIR] [--per-address=N] (--spawn=SOCKET | GAME)
//       Relays one web page's WebSocket (websocketd runs it for each) to a
//       new game, started by connecting to SOCKET or, without one, by a door
//       of GAME started here, or to the held game of the page's token.
//
// DIR is where held games wait for their players (an empty one: games are
// not held). WEEKEND_RESUME_LIMIT in the environment is how many seconds a
// game whose connection dropped waits for its player (600 unless set; 0:
// it ends at once, as games did before they were held).

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "DoorIo.h"
#include "Holder.h"
#include "Relay.h"

#ifndef WEEKEND_HELD_DIR
#error "WEEKEND_HELD_DIR (where held games wait) comes from the build"
#endif

namespace {

constexpr std::chrono::seconds defaultResumeLimit{600};

int usage()
{
    std::cerr << "usage: weekend-door [--held-dir=DIR] GAME\n"
                 "       weekend-door --web [--held-dir=DIR] [--per-address=N] (--spawn=SOCKET | GAME)\n";
    return 2;
}

std::chrono::seconds resumeLimit()
{
    const char* set = std::getenv("WEEKEND_RESUME_LIMIT");
    if (set == nullptr || *set == '\0') {
        return defaultResumeLimit;
    }
    std::uint64_t seconds = 0;
    if (!parseNumber(set, seconds) || seconds > 86400) {
        say("WEEKEND_RESUME_LIMIT=" + std::string(set) + " is not a number of seconds up to a day; 600 it is");
        return defaultResumeLimit;
    }
    return std::chrono::seconds(seconds);
}

} // namespace

int main(int argc, char** argv)
{
    // A player who went away makes writes fail, instead of ending the door.
    std::signal(SIGPIPE, SIG_IGN);
    bool web = false;
    std::string folder = WEEKEND_HELD_DIR;
    std::string spawn;
    std::string game;
    std::uint64_t perAddress = 8;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--web") {
            web = true;
        } else if (argument.starts_with("--held-dir=")) {
            folder = argument.substr(11);
        } else if (argument.starts_with("--spawn=")) {
            spawn = argument.substr(8);
        } else if (argument.starts_with("--per-address=")) {
            if (!parseNumber(argument.substr(14), perAddress) || perAddress == 0 || perAddress > 1000) {
                return usage();
            }
        } else if (!argument.starts_with("-") && game.empty()) {
            game = argument;
        } else {
            return usage();
        }
    }
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    if (web) {
        if (spawn.empty() == game.empty()) {
            return usage();
        }
        return relay({folder, spawn, game, "/proc/self/exe", static_cast<int>(perAddress)});
    }
    if (game.empty() || !spawn.empty()) {
        return usage();
    }
    return holdGame({game, folder, resumeLimit()}, STDIN_FILENO, STDOUT_FILENO);
}
