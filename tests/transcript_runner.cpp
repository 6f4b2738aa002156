// Plays transcripts against the real game binary: feeds the player's lines
// one at a time, each when the game asks for it, and compares what the game
// printed before each read with the transcript. tests/transcripts/README.md
// describes the format.
//
//   transcript_runner [--page-file PATH] GAME TRANSCRIPT...           check
//   transcript_runner --update [--page-file PATH] GAME TRANSCRIPT...  rewrite the expected text
//   transcript_runner --input-only TRANSCRIPT...                      print the bytes it would feed
//   transcript_runner --expected-output TRANSCRIPT...                 print the output it expects
//
// The game runs only where tests/support/private-pages has made the page
// file's folder private, so the machine's real page file is never touched:
//
//   tests/support/private-pages PATH -- transcript_runner --page-file PATH GAME TRANSCRIPT...

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "GameProcess.h"
#include "PrivatePages.h"
#include "Transcript.h"

namespace {

using support::Game;
using support::Read;
using support::Step;
using support::Transcript;

constexpr int brokenCode = 2;
constexpr std::size_t mostReports = 3;

struct Options {
    enum class Mode { Check, Update, InputOnly, ExpectedOutput } mode = Mode::Check;
    std::string pageFile = "/home/flags";
    int timeoutSeconds = 300;
    std::string game;
    std::vector<std::string> transcripts;
    std::string self;
};

std::string prefixPath(const std::string& transcript) { return support::directoryOf(transcript) + "/start.prefix"; }

Transcript load(const std::string& file)
{
    const std::optional<std::string> text = support::readFile(file);
    if (!text) {
        throw support::TranscriptError("cannot read " + file);
    }
    const std::optional<std::string> prefix = support::readFile(prefixPath(file));
    return support::parseTranscript(file, *text, prefix ? support::prefixBody(*prefix) : std::vector<std::string>{});
}

struct Run {
    Game game;
    int status = -1;
    std::optional<std::string> pageFileAfter;
};

// Plays the transcript's input: each line is fed when the game asks for
// input, so the output before each read is known exactly.
Run play(const Options& options, const support::GameBinary& binary, const Transcript& script)
{
    // Each transcript starts from the page file it names, or none.
    support::remountPages(options.pageFile, support::Access::Writable);
    std::remove(options.pageFile.c_str());
    if (script.pageFileBefore && !support::writeFile(options.pageFile, *script.pageFileBefore)) {
        throw std::runtime_error("cannot lay down the page file " + options.pageFile);
    }
    if (script.pageFileFolder && mkdir(options.pageFile.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot make a folder in place of the page file " + options.pageFile);
    }
    if (script.pageFileReadOnly) {
        support::remountPages(options.pageFile, support::Access::ReadOnly);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    support::GameProcess process(binary);
    Run run;
    std::vector<Read> reads;
    for (const Step& step : script.game.steps) {
        reads.push_back(step.read);
    }
    run.game = support::playReads(process, reads, deadline);
    run.status = process.status();
    run.pageFileAfter = support::readFile(options.pageFile);
    return run;
}

// How the k-th typed line is named in reports: its line and the text as written.
std::string describe(const Transcript& script, std::size_t k)
{
    const Read& read = script.game.steps[k].read;
    std::string text = read.end ? "^D (end of input)" : read.typed;
    if (k < script.startSteps) {
        text += "  (in " + script.startDirective + ")";
    }
    return "line " + std::to_string(read.line) + ": " + text;
}

// The differing lines of two texts, as the transcript writes them;
// firstLine is where the expected text starts in the transcript (0: unknown).
void reportLines(std::ostream& out, std::string_view expected, std::string_view actual, int firstLine = 0)
{
    const std::vector<std::string> want = support::renderText(expected);
    const std::vector<std::string> got = support::renderText(actual);
    std::size_t shown = 0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const auto shownLine = [](const std::vector<std::string>& lines, std::size_t at) -> std::string {
            if (at >= lines.size()) {
                return "(no such line)";
            }
            return lines[at].empty() ? "(empty line)" : lines[at];
        };
        const std::string w = shownLine(want, i);
        const std::string g = shownLine(got, i);
        if (w == g) {
            continue;
        }
        if (++differing <= 3) {
            std::string label = "expected";
            if (firstLine > 0 && i < want.size()) {
                label += " (line " + std::to_string(firstLine + static_cast<int>(i)) + ")";
            }
            label += ": ";
            std::string other = "actual: ";
            other.resize(label.size(), ' ');
            out << "  " << label << w << "\n  " << other << g << '\n';
            ++shown;
        }
    }
    if (differing > shown) {
        out << "  (" << differing - shown << " more lines differ)\n";
    }
}

// Compares the run with the transcript; prints the differences and returns their number.
std::size_t compare(std::ostream& out, const Transcript& script, const Run& run)
{
    const std::vector<Step>& want = script.game.steps;
    const std::vector<Step>& got = run.game.steps;
    std::size_t problems = 0;
    const auto report = [&](const std::string& where, std::string_view expected, std::string_view actual,
                            int firstLine = 0) {
        if (++problems <= mostReports) {
            out << where << '\n';
            reportLines(out, expected, actual, firstLine);
        }
    };
    // The answer to the k-th typed line starts on the line after it, unless the start directive holds it.
    const auto answerLine = [&](std::size_t k) { return k < script.startSteps ? 0 : want[k].read.line + 1; };
    const auto answerTo = [&](std::size_t k) {
        return k == 0 ? "the start of the game, before " + describe(script, 0) : describe(script, k - 1);
    };
    // An answer is shown without the prompt that ends it: that is the next typed line's "> ".
    const std::size_t common = std::min(want.size(), got.size());
    for (std::size_t k = 0; k < common; ++k) {
        if (want[k].output != got[k].output) {
            report(answerTo(k), support::splitPrompt(want[k].output).text, support::splitPrompt(got[k].output).text,
                   k == 0 ? 0 : answerLine(k - 1));
        }
        if (want[k].read.end != got[k].read.end) {
            report(answerTo(k), want[k].read.end ? "(the input ends)" : "(a typed line)",
                   got[k].read.end ? "(the input ends)" : "(a typed line)");
        }
    }
    if (got.size() < want.size()) {
        report(answerTo(got.size()) + "\n  the game ended instead of reading " + describe(script, got.size()),
               support::splitPrompt(want[got.size()].output).text, run.game.finalOutput);
    } else if (got.size() > want.size()) {
        report(want.empty() ? "the start of the game" : describe(script, want.size() - 1),
               "(the game ends)\n" + script.game.finalOutput, got.back().output + "(asks for more input)");
    } else if (script.game.finalOutput != run.game.finalOutput) {
        report(want.empty() ? "the whole game" : describe(script, want.size() - 1) + " (the last input)",
               script.game.finalOutput, run.game.finalOutput, want.empty() ? 0 : answerLine(want.size() - 1));
    }
    if (run.status != 0) {
        ++problems;
        out << "the game " << support::describeStatus(run.status) << " (expected: status 0)\n";
    }
    const std::optional<std::string>& pageAfter = script.pageFileAfter ? script.pageFileAfter : script.pageFileBefore;
    if (pageAfter != run.pageFileAfter) {
        ++problems;
        out << "the page file after the game (@page file after)\n";
        reportLines(out, pageAfter ? *pageAfter : "(no page file)\n",
                    run.pageFileAfter ? *run.pageFileAfter : "(no page file)\n");
    }
    if (problems > mostReports) {
        out << "... " << problems - mostReports << " more differences\n";
    }
    return problems;
}

// After a deliberate change to the start of every game, start.prefix is
// written anew from this run, with the typed name replaced by {name}.
bool updatePrefix(const Transcript& script, const Run& run)
{
    if (script.startDirective.rfind("@start ", 0) != 0 || run.game.steps.empty()) {
        return false;
    }
    std::vector<std::string> lines = support::renderGame(run.game);
    std::size_t reads = 0;
    std::size_t end = 0;
    for (; end < lines.size(); ++end) {
        const std::string& line = lines[end];
        const bool typed = line == ">" || line == "<" || line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0;
        if (typed && ++reads == 2) {
            break;
        }
    }
    const std::string name = script.startDirective.substr(7);
    std::string text;
    const std::optional<std::string> old = support::readFile(prefixPath(script.file));
    // Its comment lines stay.
    std::istringstream oldLines(old ? *old : "");
    for (std::string line; std::getline(oldLines, line);) {
        if (line.rfind('#', 0) == 0) {
            text += line + "\n";
        }
    }
    for (std::size_t i = 0; i < end; ++i) {
        std::string line = lines[i];
        for (std::size_t at = line.find(name); !name.empty() && at != std::string::npos; at = line.find(name, at + 6)) {
            line.replace(at, name.size(), "{name}");
        }
        text += line + "\n";
    }
    if (old && *old == text) {
        return false;
    }
    std::cout << "updated " << prefixPath(script.file) << " (the start of every game)\n";
    return support::writeFile(prefixPath(script.file), text);
}

int runAll(const Options& options)
{
    if (const std::string why = support::privatePagesProblem(options.pageFile); !why.empty()) {
        std::cout << "ERROR: " << why << '\n';
        return brokenCode;
    }
    const support::GameBinary binary(options.game);
    int result = 0;
    for (const std::string& file : options.transcripts) {
        Transcript script = load(file);
        if (options.mode == Options::Mode::Check) {
            std::cout << script.header[0].substr(2) << '\n';
        }
        Run run = play(options, binary, script);
        if (options.mode == Options::Mode::Update) {
            if (run.game.steps.size() < script.game.steps.size()) {
                std::cout << file << ": the game ended before reading " << describe(script, run.game.steps.size())
                          << "; remove the lines it never reads by hand\n";
                result = 1;
                continue;
            }
            if (updatePrefix(script, run)) {
                script = load(file);
            }
            const std::string text = support::renderTranscript(script, run.game, run.pageFileAfter);
            const bool changed = support::readFile(file) != text;
            if (changed && !support::writeFile(file, text)) {
                std::cout << "cannot write " << file << '\n';
                return brokenCode;
            }
            std::cout << (changed ? "updated " : "unchanged ") << file << '\n';
            continue;
        }
        if (compare(std::cout, script, run) == 0) {
            std::cout << "PASS " << file << '\n';
            continue;
        }
        std::cout << "FAIL " << file << "\nIf the new output is right, accept it and review the change:\n  "
                  << options.self << " --update " << options.game << ' ' << file << "\n  git diff -- "
                  << support::directoryOf(file) << '\n';
        result = 1;
    }
    return result;
}

int usage()
{
    std::cerr << "usage: transcript_runner [--update] [--page-file PATH] [--timeout SECONDS] GAME TRANSCRIPT...\n"
                 "       transcript_runner --input-only|--expected-output TRANSCRIPT...\n";
    return brokenCode;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    options.self = argv[0];
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--update") {
            options.mode = Options::Mode::Update;
        } else if (arg == "--input-only") {
            options.mode = Options::Mode::InputOnly;
        } else if (arg == "--expected-output") {
            options.mode = Options::Mode::ExpectedOutput;
        } else if (arg == "--page-file" && i + 1 < argc) {
            options.pageFile = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            options.timeoutSeconds = std::atoi(argv[++i]);
        } else if (arg.rfind("--", 0) == 0) {
            return usage();
        } else {
            positional.push_back(arg);
        }
    }
    const bool needsGame = options.mode == Options::Mode::Check || options.mode == Options::Mode::Update;
    if (positional.size() < (needsGame ? 2U : 1U)) {
        return usage();
    }
    if (needsGame) {
        options.game = positional.front();
        positional.erase(positional.begin());
    }
    options.transcripts = positional;
    try {
        if (!needsGame) {
            for (const std::string& file : options.transcripts) {
                const Game& game = load(file).game;
                std::cout << (options.mode == Options::Mode::InputOnly ? game.input() : game.output());
            }
            return 0;
        }
        return runAll(options);
    } catch (const support::TranscriptError& error) {
        std::cout << error.what() << '\n';
        return brokenCode;
    } catch (const std::exception& error) {
        std::cout << "ERROR: " << error.what() << '\n';
        return 1;
    }
}
