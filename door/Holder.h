#pragma once

#include <chrono>
#include <string>

// How a door holds the game of its player.
struct HoldSettings {
    std::string game;                      // the game program
    std::string heldFolder;                // where held games wait; empty: no game is held
    std::chrono::seconds resumeLimit{600}; // how long a dropped game waits; 0: it ends at once
};

// The door of one player: runs the game with pipes as its standard input
// and output, passes the player's lines to it and its output to the player,
// and keeps the game when the connection drops, so that the player can come
// back to it. The connection is the one on descriptors in and out:
//
// - a TCP connection (a terminal client): telnet both ways, and a resume
//   code told before the game's first text; a new connection whose first
//   line is "resume CODE" hands itself over to the door that holds the game;
// - a relay's Unix socket (a web page, through websocketd and weekend-door
//   --web): the frames of docs/web-protocol.md.
//
// A game that never got past its name prompt is not held; a held game waits
// at most resumeLimit for its player, then ends as at the end of its input.
// Returns the door's exit status once the game has ended.
int holdGame(const HoldSettings& settings, int in, int out);
