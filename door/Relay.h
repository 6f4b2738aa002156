#pragma once

#include <string>

// Where a relay finds games.
struct RelaySettings {
    std::string heldFolder;  // where held games wait for their players
    std::string spawnSocket; // a new game is had by connecting here (weekend@web.socket); empty: see game
    std::string game;        // without spawnSocket, a door of this game is started, on its own, for each new game
    std::string self;        // this program, to start that door with
    int perAddress = 8;      // the most games (playing or held) one address may have
};

// The web page's side of a game, as websocketd runs it for each WebSocket:
// reads the page's hello line (docs/web-protocol.md) from standard input,
// finds the game (a new one, or the held one of the page's token), and then
// passes bytes both ways between the page and the game's door until either
// side ends. A page gets an end frame of its own when no game could be had
// for it, or when its door went away without one. The door, not the relay,
// holds the game: websocketd's restart ends relays, never games.
int relay(const RelaySettings& settings);
