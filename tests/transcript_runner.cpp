// Plays one transcript against the real game binary and compares the output.
//
//   transcript_runner GAME BASE
//
// BASE.in is the input script: its first line describes the transcript and
// is not fed to the game; the rest is fed byte for byte. BASE.out is the
// exact expected output. Optional: BASE.flags-before is laid down as the page
// file before the game starts, BASE.flags-after is the exact page file the
// game must leave behind.
//
// The game always runs in a private mount namespace with a fresh tmpfs on
// /home, so the real page file is never touched. Where that is not permitted,
// a transcript that involves the page file (its first line says
// "[page file]", or it has a flags file) is skipped with exit code 77; the
// others run without the namespace.
//
// A mismatch is reported command by command: the output is cut at every
// prompt, so each input line's answer is checked on its own.

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int skipCode = 77;
constexpr const char* pageFile = "/home/flags";

bool readFile(const std::string& path, std::string& content)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream buffer;
    buffer << file.rdbuf();
    content = buffer.str();
    return true;
}

bool writeFile(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    return static_cast<bool>(file.flush());
}

// Shows control characters and line ends so that a difference is visible.
std::string visible(const std::string& text, std::size_t limit = 400)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            shown += "\\n\n      ";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof(code), "\\x%02x", c);
            shown += code;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() > limit) {
        shown += "...(" + std::to_string(text.size()) + " bytes)";
    }
    return shown;
}

std::vector<std::string> splitAt(const std::string& text, const std::string& mark)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(mark, from);
        if (at == std::string::npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, at + mark.size() - from));
        from = at + mark.size();
    }
}

// Enters a private mount namespace with an empty tmpfs on /home.
bool privateHome()
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/home", "tmpfs", 0, "size=64m") == 0;
}

struct Run {
    bool skipped = false;
    int status = -1;
    std::string output;
    std::string flagsAfter;
    bool flagsExist = false;
};

Run play(const std::string& game, const std::string& input, bool needsPageFile, const std::string* flagsBefore)
{
    Run run;
    char inPath[] = "/tmp/transcript-in-XXXXXX";
    char outPath[] = "/tmp/transcript-out-XXXXXX";
    char flagsPath[] = "/tmp/transcript-flags-XXXXXX";
    const int inFd = mkstemp(inPath);
    const int outFd = mkstemp(outPath);
    const int flagsFd = mkstemp(flagsPath);
    if (inFd < 0 || outFd < 0 || flagsFd < 0 || !writeFile(inPath, input)) {
        std::perror("temporary files");
        std::exit(2);
    }
    const pid_t child = fork();
    if (child == 0) {
        if (!privateHome()) {
            if (needsPageFile) {
                _exit(skipCode);
            }
        } else if (flagsBefore != nullptr && !writeFile(pageFile, *flagsBefore)) {
            _exit(3);
        }
        const pid_t gameProcess = fork();
        if (gameProcess == 0) {
            dup2(inFd, STDIN_FILENO);
            dup2(outFd, STDOUT_FILENO);
            execl(game.c_str(), game.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(gameProcess, &status, 0);
        // The page file as the game left it, copied out of the namespace.
        std::string flags;
        if (readFile(pageFile, flags)) {
            if (write(flagsFd, flags.data(), flags.size()) != static_cast<ssize_t>(flags.size())) {
                _exit(3);
            }
            _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 10 : 11);
        }
        _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.skipped = code == skipCode;
    run.flagsExist = code == 10 || code == 11;
    run.status = (code == 0 || code == 10) ? 0 : 1;
    readFile(outPath, run.output);
    readFile(flagsPath, run.flagsAfter);
    unlink(inPath);
    unlink(outPath);
    unlink(flagsPath);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: transcript_runner GAME BASE\n";
        return 2;
    }
    const std::string game = argv[1];
    const std::string base = argv[2];
    std::string script;
    std::string expected;
    if (!readFile(base + ".in", script) || !readFile(base + ".out", expected)) {
        std::cerr << "cannot read " << base << ".in or " << base << ".out\n";
        return 2;
    }
    const std::size_t firstLineEnd = script.find('\n');
    if (script.empty() || script[0] != '#' || firstLineEnd == std::string::npos) {
        std::cerr << base << ".in must start with a line that describes it, beginning with '#'\n";
        return 2;
    }
    const std::string description = script.substr(0, firstLineEnd);
    const std::string input = script.substr(firstLineEnd + 1);
    std::string flagsBefore;
    std::string flagsAfter;
    const bool hasBefore = readFile(base + ".flags-before", flagsBefore);
    const bool hasAfter = readFile(base + ".flags-after", flagsAfter);
    const bool needsPageFile = hasBefore || hasAfter || description.find("[page file]") != std::string::npos;

    std::cout << description << '\n';
    const Run run = play(game, input, needsPageFile, hasBefore ? &flagsBefore : nullptr);
    if (run.skipped) {
        std::cout << "SKIPPED: this transcript needs a private mount namespace (unshare -m) for its page file, "
                     "and that is not permitted here\n";
        return skipCode;
    }

    bool ok = true;
    if (run.status != 0) {
        std::cout << "FAIL: the game did not exit with status 0\n";
        ok = false;
    }
    if (run.output != expected) {
        ok = false;
        const std::vector<std::string> inputLines = splitAt(input, "\n");
        const std::vector<std::string> want = splitAt(expected, "> ");
        const std::vector<std::string> got = splitAt(run.output, "> ");
        int reported = 0;
        for (std::size_t i = 0; i < std::max(want.size(), got.size()) && reported < 5; ++i) {
            const std::string w = i < want.size() ? want[i] : "(nothing)";
            const std::string g = i < got.size() ? got[i] : "(nothing)";
            if (w == g) {
                continue;
            }
            ++reported;
            std::cout << "FAIL: output differs ";
            if (i == 0) {
                std::cout << "before the first prompt\n";
            } else {
                std::string line = i - 1 < inputLines.size() ? inputLines[i - 1] : "(no more input)";
                if (!line.empty() && line.back() == '\n') {
                    line.pop_back();
                }
                std::cout << "after input line " << i << ": " << visible(line, 120) << '\n';
            }
            std::cout << "  expected: " << visible(w) << "\n  actual:   " << visible(g) << '\n';
        }
        if (want.size() != got.size()) {
            std::cout << "  (" << want.size() - 1 << " prompts expected, " << got.size() - 1 << " shown)\n";
        }
    }
    if (hasAfter && (!run.flagsExist || run.flagsAfter != flagsAfter)) {
        ok = false;
        std::cout << "FAIL: page file differs\n  expected: " << visible(flagsAfter)
                  << "\n  actual:   " << (run.flagsExist ? visible(run.flagsAfter) : "(no page file)") << '\n';
    }
    std::cout << (ok ? "PASS\n" : "");
    return ok ? 0 : 1;
}
