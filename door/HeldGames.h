#pragma once

#include <string>

// The folder where held games wait for their players: each game that may be
// resumed listens on a Unix socket there. The socket's name is made of a
// digest of the game's secret and a digest of its player's address, so that
// listing the folder gives away neither, yet a game is found by its secret
// and a player's games are counted by their address. A game that was killed
// leaves its socket behind, refusing every connection: it counts as gone.
class HeldGames {
public:
    explicit HeldGames(std::string folder) : folder(std::move(folder)) {}

    const std::string& path() const { return folder; }

    // Listens for the return of the player of the game with this secret;
    // the socket's path goes into socketPath. A non-blocking listening
    // socket, or -1 with errno set.
    int listen(const std::string& secret, const std::string& address, std::string& socketPath) const;

    // Connects to the live game with this secret: a connected socket, or -1
    // when there is none.
    int connect(const std::string& secret) const;

    // How many live games (playing or held) the player at address has here.
    int countFrom(const std::string& address) const;

private:
    std::string folder;
};
