#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>

#include "DescriptorInput.h"
#include "Example.h"
#include "TcpSocket.h"
#include "TelnetInput.h"
#include "TelnetOutput.h"

#ifndef WEEKEND_PAGE_FILE
#error "WEEKEND_PAGE_FILE (the page file's path) comes from the build"
#endif
#ifndef WEEKEND_IDLE_LIMIT
#error "WEEKEND_IDLE_LIMIT (seconds a served game waits for a line, 0 for ever) comes from the build"
#endif

int main()
{
    // A player whose connection drops simply ends the game: writes then fail
    // instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);

    // A served game ends when its player has sent no line for a while, so
    // that players who walk away do not keep everybody else out; a player at
    // a terminal of this machine may take all the time in the world.
    const std::chrono::seconds idleLimit{::isatty(STDIN_FILENO) != 0 ? 0 : WEEKEND_IDLE_LIMIT};
    // Given a TCP connection itself (weekend-door usually stands between the
    // two), the game speaks telnet on it: a client mixes its commands into
    // what the player types, and every answer goes out at once, with line
    // ends and 0xFF bytes as the protocol wants them.
    const bool onTcp = isTcpSocket(STDIN_FILENO);
    DescriptorInput input(STDIN_FILENO, idleLimit, onTcp ? std::make_unique<TelnetInput>() : nullptr);
    std::istream in(&input);
    std::optional<NvtOutput> telnetOutput;
    std::ostream out(std::cout.rdbuf());
    if (isTcpSocket(STDOUT_FILENO)) {
        disableNagleOnTcp(STDOUT_FILENO);
        out.rdbuf(&telnetOutput.emplace(STDOUT_FILENO));
    }

    Example game(in, out, WEEKEND_PAGE_FILE);
    game.clearScreen();
    game.init();
    game.play();
    if (input.idledOut()) {
        // The input ended at a prompt; the farewell gets a line of its own.
        out << '\n';
        game.say("You stood around doing nothing for so long that you fell asleep on the spot. Come back when you "
                 "are awake!");
    }
    out.flush();
    return 0;
}
