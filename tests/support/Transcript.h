#pragma once

// Transcripts: whole games written down as a terminal shows them, with the
// player's lines after the game's "> " prompts. tests/transcripts/README.md
// describes the format; this is its reader and writer.
//
// A game is a list of steps: what the game printed, then what it read
// (a line, or the end of its input). After the last step comes what it
// printed until it ended.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// A transcript that does not follow the format; what() names the line.
class TranscriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Read {
    bool end = false;                  // the input ended here (nothing more is fed)
    bool idle = false;                 // nothing came: the game waited until its idle limit and ended
    std::string text;                  // the bytes typed, without the line end
    bool lineEnd = true;               // a line end followed the text
    std::string typed;                 // the text as written in the transcript (kept by updates)
    int line = 0;                      // the transcript line it was written on
    std::vector<std::string> comments; // comment lines written just before it

    std::string bytes() const { return end || idle ? "" : text + (lineEnd ? "\n" : ""); }
    // The same input, however it was written.
    bool sameInput(const Read& other) const
    {
        return end == other.end && idle == other.idle && text == other.text && lineEnd == other.lineEnd;
    }
};

struct Step {
    std::string output; // printed before the read, with its prompt
    Read read;
};

struct Game {
    std::vector<Step> steps;
    std::string finalOutput; // printed after the last read

    std::string input() const;  // every byte fed, in order
    std::string output() const; // everything printed, in order
};

struct Transcript {
    std::string file;
    std::vector<std::string> header; // the comment lines at the top; the first describes it
    std::vector<std::string> setup;  // the page file before and read-only lines as written, if any
    std::optional<std::string> pageFileBefore;
    bool pageFileReadOnly = false; // the game may not write its page file's directory
    bool pageFileFolder = false;   // a folder stands where the page file should be
    std::optional<std::string> pageFileAfter;
    std::string startDirective;          // "@start NAME" or "@welcome" as written, or ""
    std::size_t startSteps = 0;          // how many steps the directive stands for
    std::vector<std::string> startLines; // what it stands for, as lines
    std::vector<std::string> trailingComments;
    Game game;
};

// What the game printed up to a read: the text before its prompt (the
// engine's prompt, "> "), and whether the prompt was there.
struct Prompted {
    std::string_view text;
    bool prompted = false;
};
Prompted splitPrompt(std::string_view output);

// What the game printed after each read, up to its next prompt (or its
// end): entry i answers read i.
std::vector<std::string> answersOf(const Game& game);

// Reads a transcript; prefixLines is the shared start of a game (the
// start.prefix file beside the transcripts, without its comments), which
// "@start NAME" and "@welcome" stand for.
Transcript parseTranscript(const std::string& file, std::string_view text, const std::vector<std::string>& prefixLines);

// The lines of start.prefix that stand for a game's start (its comments dropped).
std::vector<std::string> prefixBody(std::string_view text);

// The game as transcript lines. typed: the reads as written before, whose
// spelling is kept where the input is the same.
std::vector<std::string> renderGame(const Game& game, const std::vector<Read>& typed = {});

// A whole transcript written anew: the header, blocks, directive and comments
// of old, the steps, final output and page file after of actual.
std::string renderTranscript(const Transcript& old, const Game& actual,
                             const std::optional<std::string>& pageFileAfter);

// Lines of output as the format writes them (escapes, "$", "\" at the end).
std::vector<std::string> renderText(std::string_view text);
// One line of text as the format writes it, without line-start escapes.
std::string escapeText(std::string_view text);
// The bytes a line of the format stands for; no line-start or line-end markers.
std::string unescapeText(std::string_view text);

} // namespace support
