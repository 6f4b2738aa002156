#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>

#include "DescriptorInput.h"
#include "Example.h"
#include "TcpNoDelay.h"
#include "TelnetInput.h"

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
    // Served on a TCP connection, every flushed piece goes out at once.
    disableNagleOnTcp(STDOUT_FILENO);
    std::ios::sync_with_stdio(false);

    // A served game ends when its player has sent no line for a while, so
    // that players who walk away do not keep everybody else out; a player at
    // a terminal of this machine may take all the time in the world.
    const std::chrono::seconds idleLimit{::isatty(STDIN_FILENO) != 0 ? 0 : WEEKEND_IDLE_LIMIT};
    // A player on a TCP connection may use a telnet client, which mixes its
    // commands into the typed text and sends Ctrl-C as one of them.
    DescriptorInput input(STDIN_FILENO, idleLimit,
                          isTcpSocket(STDIN_FILENO) ? std::make_unique<TelnetInput>() : nullptr);
    std::istream in(&input);

    Example game(in, std::cout, WEEKEND_PAGE_FILE);
    game.clearScreen();
    game.init();
    game.play();
    if (input.idledOut()) {
        // The input ended at a prompt; the farewell gets a line of its own.
        std::cout << '\n';
        game.say("You stood around doing nothing for so long that you fell asleep on the spot. Come back when you "
                 "are awake!");
    }
    std::cout.flush();
    return 0;
}
