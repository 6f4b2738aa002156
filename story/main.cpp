#include <csignal>
#include <iostream>

#include "Example.h"

int main()
{
    // A player whose connection drops simply ends the game: writes then fail
    // instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr); // the game flushes before every read itself

    Example game(std::cin, std::cout, "/home/flags");
    game.clearScreen();
    game.init();
    game.play();
    std::cout.flush();
    return 0;
}
