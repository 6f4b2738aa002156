// In-process figures, timed by Google Benchmark: whole games played from
// scripts in memory as main plays them, and single search commands of a
// game that stands in the library. The game's output is thrown away.
//
//   game_bench [benchmark flags] [LABEL=PAGE_FILE:LAST_KEY:ABSENT_KEY ...]
//
// Each LABEL=... adds, on that page file, a search for the last record's
// key, one for an absent key, and the listing. Run by bench/run.sh, which
// makes the page files; see docs/performance.md.

#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include <benchmark/benchmark.h>

#include "Command.h"
#include "Example.h"

namespace {

// Reads a script in place, without copying it for every game.
class ViewBuffer : public std::streambuf {
public:
    explicit ViewBuffer(const std::string& text)
    {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

// Takes the game's output and throws it away.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char* /*text*/, std::streamsize count) override { return count; }
};

// Games that never look at the page file are given one that cannot exist.
const std::string noPageFile = "/nonexistent/weekend-bench";
const std::string walkToLibrary = "bench\neast\nnortheast\neast\n";

// The same scripts as bench/run.sh writes with awk. A session walks a round
// trip through the town (garden, bedroom, street, pub, back alley, library,
// home), looking around every few steps.
std::string sessionScript(std::int64_t commands)
{
    static constexpr std::string_view roundTrip[] = {
        "e", "s", "look", "e", "n", "look", "s",    "w", "n",  "ne", "look",
        "n", "n", "look", "s", "s", "e",    "look", "w", "sw", "w",  "look",
    };
    std::string script = "bench\n";
    for (std::int64_t i = 0; i < commands; ++i) {
        script += roundTrip[i % std::size(roundTrip)];
        script += '\n';
    }
    return script;
}

// Takes the book and writes pages 1 to `pages`, each "note I" and 4 to 12
// words.
std::string writeScript(std::int64_t pages)
{
    std::string script = walkToLibrary + "take book\n";
    for (std::int64_t i = 1; i <= pages; ++i) {
        script += "write page " + std::to_string(i) + " note " + std::to_string(i);
        for (std::int64_t word = 0; word < i % 9 + 4; ++word) {
            script += " words";
        }
        script += '\n';
    }
    return script;
}

// A game played from a script, as main plays it, to the script's end.
struct ScriptedGame {
    ScriptedGame(const std::string& script, const std::string& pageFile)
        : in(script), input(&in), output(&out), game(input, output, pageFile)
    {
        game.clearScreen();
        game.init();
        game.play();
    }
    ViewBuffer in;
    NullBuffer out;
    std::istream input;
    std::ostream output;
    Example game;
};

void playGame(const std::string& script) { const ScriptedGame game(script, noPageFile); }

void StartUp(benchmark::State& state, const std::string& script)
{
    for (auto _ : state) {
        playGame(script);
    }
}
BENCHMARK_CAPTURE(StartUp, eof, std::string())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StartUp, name_quit, std::string("bench\nquit\n"))->Unit(benchmark::kMicrosecond);

// items_per_second: commands or pages per second.
void Scripted(benchmark::State& state, std::string (*makeScript)(std::int64_t))
{
    const std::string script = makeScript(state.range(0));
    for (auto _ : state) {
        playGame(script);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(Scripted, Session, sessionScript)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scripted, Write, writeScript)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One search command per iteration, by a game that has walked to the
// library once. bytes_per_second: page-file bytes per second.
void Search(benchmark::State& state, const std::string& pageFile, const std::string& key)
{
    ScriptedGame library(walkToLibrary, pageFile);
    for (auto _ : state) {
        library.game.processCommand(Command("search", key));
    }
    struct stat file {};
    if (::stat(pageFile.c_str(), &file) != 0) {
        state.SkipWithError(("cannot stat " + pageFile).c_str());
        return;
    }
    state.SetBytesProcessed(state.iterations() * file.st_size);
}

// LABEL=PAGE_FILE:LAST_KEY:ABSENT_KEY
bool registerSearches(const std::string& argument)
{
    const std::size_t equals = argument.find('=');
    const std::size_t absentColon = argument.rfind(':');
    const std::size_t lastColon = absentColon == std::string::npos ? absentColon : argument.rfind(':', absentColon - 1);
    if (equals == std::string::npos || lastColon == std::string::npos || lastColon <= equals) {
        return false;
    }
    const std::string label = argument.substr(0, equals);
    const std::string path = argument.substr(equals + 1, lastColon - equals - 1);
    const std::string last = argument.substr(lastColon + 1, absentColon - lastColon - 1);
    const std::string absent = argument.substr(absentColon + 1);
    benchmark::RegisterBenchmark(("SearchLast/" + label).c_str(), Search, path, last)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("SearchAbsent/" + label).c_str(), Search, path, absent)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Listing/" + label).c_str(), Search, path, std::string())
        ->Unit(benchmark::kMillisecond);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (!registerSearches(argv[i])) {
            std::cerr << "game_bench: not LABEL=PAGE_FILE:LAST_KEY:ABSENT_KEY: " << argv[i] << '\n';
            return 2;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
