#include <unistd.h>

#include <csignal>
#include <iostream>

#include "Example.h"
#include "TcpNoDelay.h"

#ifndef WEEKEND_PAGE_FILE
#error "WEEKEND_PAGE_FILE (the page file's path) comes from the build"
#endif

int main()
{
    // A player whose connection drops simply ends the game: writes then fail
    // instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Served on a TCP connection, every flushed piece goes out at once.
    disableNagleOnTcp(STDOUT_FILENO);
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr); // the game flushes before every read itself

    Example game(std::cin, std::cout, WEEKEND_PAGE_FILE);
    game.clearScreen();
    game.init();
    game.play();
    std::cout.flush();
    return 0;
}
