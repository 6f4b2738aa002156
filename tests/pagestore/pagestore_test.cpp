// Plays the real game binary against page files that fail in every way we
// know, and against many games hiding pages at once.
//
//   pagestore_test GAME CASE
//
// CASE is one of:
//   missing    the game runs chrooted into a root that has no /home at all
//   readonly   /home is a read-only tmpfs that holds a page file
//   directory  /home/flags is a directory
//   diskfull   /home is a tmpfs too small for the page being hidden
//   concurrent 16 games at once each hide 200 pages of 1 KB to 64 KB
//
// Everything runs in a private mount namespace with its own tmpfs mounts,
// so the real page file is never touched. Where that is not permitted the
// test says so and exits with 77 (skipped).

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int skipCode = 77;
const char* const pageFile = "/home/flags";

const std::string lookout = "quick look to the left.....\nquick look to the right.....  ";
const std::string ghosted = "You cannot hide yet, someone is arround ghosting you\n";
const std::string crr = "Crrrsccccccchht you ripped that page out of the book\n";
const std::string toLibrary = "Tester\neast\nnortheast\neast\ntake book\n";
constexpr std::size_t answersBeforeLibrary = 6; // preamble, name, three moves, take book

int failures = 0;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::cout << "FAIL: " << what << '\n';
        ++failures;
    }
}

void expectEqual(const std::string& actual, const std::string& expected, const std::string& what)
{
    if (actual != expected) {
        std::cout << "FAIL: " << what << "\n  expected: [" << expected.substr(0, 300) << "]\n  actual:   ["
                  << actual.substr(0, 300) << "]\n";
        ++failures;
    }
}

[[noreturn]] void skip(const std::string& why)
{
    std::cout << "SKIPPED: " << why << " (" << std::strerror(errno)
              << "); this test needs a private mount namespace (unshare -m) with tmpfs mounts\n";
    std::exit(skipCode);
}

[[noreturn]] void broken(const std::string& what)
{
    std::cout << "ERROR: " << what << ": " << std::strerror(errno) << '\n';
    std::exit(2);
}

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

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file.flush()) {
        broken("cannot write " + path);
    }
}

void mountTmpfs(const char* where, const char* options)
{
    if (mount("tmpfs", where, "tmpfs", 0, options) != 0) {
        skip(std::string("cannot mount a tmpfs on ") + where);
    }
}

// A game process: its stdin is fed by a process of its own, its stdout goes
// to an unlinked temporary file.
struct Game {
    pid_t pid = -1;
    pid_t feeder = -1;
    int output = -1;
};

Game start(const std::string& binary, const std::string& root, const std::function<void(int)>& feed)
{
    Game game;
    char outPath[] = "/tmp/pagestore-out-XXXXXX";
    game.output = mkstemp(outPath);
    int in[2];
    if (game.output < 0 || pipe(in) != 0) {
        broken("cannot make the game's streams");
    }
    unlink(outPath);
    game.pid = fork();
    if (game.pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(game.output, STDOUT_FILENO);
        close(in[0]);
        close(in[1]);
        std::string program = binary;
        if (!root.empty()) {
            if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
                _exit(126);
            }
            program = "/weekend";
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    game.feeder = fork();
    if (game.feeder == 0) {
        close(in[0]);
        feed(in[1]);
        close(in[1]);
        _exit(0);
    }
    close(in[0]);
    close(in[1]);
    return game;
}

// Waits for the game and returns its answers: the output cut at every
// prompt, so answers[k] belongs to the k-th input line (answers[0] is what
// comes before the name prompt).
std::vector<std::string> finish(const Game& game)
{
    int status = 0;
    waitpid(game.feeder, &status, 0);
    waitpid(game.pid, &status, 0);
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the game exits with status 0");
    std::string output;
    char buffer[65536];
    ssize_t got = 0;
    lseek(game.output, 0, SEEK_SET);
    while ((got = read(game.output, buffer, sizeof(buffer))) > 0) {
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(game.output);
    std::vector<std::string> answers;
    std::size_t from = 0;
    for (std::size_t at = output.find("> "); at != std::string::npos; at = output.find("> ", from)) {
        answers.push_back(output.substr(from, at - from));
        from = at + 2;
    }
    answers.push_back(output.substr(from));
    return answers;
}

void writeAll(int fd, const std::string& text)
{
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n <= 0) {
            return;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::vector<std::string> play(const std::string& binary, const std::string& script, const std::string& root = "")
{
    return finish(start(binary, root, [&script](int fd) { writeAll(fd, script); }));
}

std::string block(const std::string& word, const std::string& text)
{
    return "\nThis is page nr. " + word + " of the big old book and it reads:\n\n\t\"" + text + "\"";
}

std::string answer(const std::vector<std::string>& answers, std::size_t command)
{
    const std::size_t index = answersBeforeLibrary + command;
    return index < answers.size() ? answers[index] : "(no answer)";
}

// The page cannot be hidden: the game says so, keeps the page, and a
// search afterwards gives searchAnswer.
void expectPageKept(const std::string& binary, const std::string& root, const std::string& searchAnswer)
{
    const auto answers = play(
        binary, toLibrary + "write page 1337 secret words\nhide page 1\ninventory\nexamine page\nsearch 1337\nquit\n",
        root);
    expectEqual(answer(answers, 0), "\n" + crr + "The 1 page(s) out of the book was added to your inventory\n",
                "the page is written");
    expectEqual(answer(answers, 1), "\n" + lookout + ghosted, "the hide is refused");
    expectEqual(answer(answers, 2), "\nYour inventory: \nbig old book\n1 page(s) out of the book\n",
                "the page is still held");
    expectEqual(answer(answers, 3), "\n" + block("1337", "secret words ") + "\n", "the page item still shows it");
    expectEqual(answer(answers, 4), "\n" + lookout + "Nobody there\n\n" + searchAnswer, "the search");
}

void caseMissing(const std::string& binary)
{
    // A root of its own for the game: the system's libraries, /proc and /dev
    // (a sanitizer build reads /proc) and the game binary are there, /home
    // is not.
    const char* root = "/tmp";
    // Held open across the mount, since the checkout may itself lie under /tmp.
    const int binaryFd = open(binary.c_str(), O_PATH | O_CLOEXEC);
    if (binaryFd < 0) {
        broken("cannot open " + binary);
    }
    const std::string heldBinary = "/proc/self/fd/" + std::to_string(binaryFd);
    mountTmpfs(root, "size=1m");
    const std::string game = std::string(root) + "/weekend";
    writeFile(game, "");
    mkdir((std::string(root) + "/usr").c_str(), 0755);
    if (mount("/usr", (std::string(root) + "/usr").c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount(heldBinary.c_str(), game.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        skip("cannot bind-mount /usr and the game into the root without /home");
    }
    for (const char* dir : {"lib", "lib64", "bin", "proc", "dev"}) {
        struct stat status {};
        const std::string inRoot = std::string(root) + "/" + dir;
        const std::string system = std::string("/") + dir;
        if (lstat(system.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
            if (symlink((std::string("usr/") + dir).c_str(), inRoot.c_str()) != 0) {
                broken("cannot link " + inRoot);
            }
        } else if (lstat(system.c_str(), &status) == 0) {
            mkdir(inRoot.c_str(), 0755);
            if (mount(system.c_str(), inRoot.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
                skip("cannot bind-mount " + system);
            }
        }
    }
    struct stat status {};
    check(stat((std::string(root) + "/home").c_str(), &status) != 0, "the game's root has no /home");
    expectPageKept(binary, root, "There is nothing to find.\n");
    check(stat((std::string(root) + "/home").c_str(), &status) != 0, "nothing made /home");
}

void caseReadOnly(const std::string& binary)
{
    mountTmpfs("/home", "size=1m");
    const std::string before = "1337\nold words \n";
    writeFile(pageFile, before);
    if (mount(nullptr, "/home", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        skip("cannot remount /home read-only");
    }
    expectPageKept(binary, "", "old words \n\n");
    std::string after;
    check(readFile(pageFile, after) && after == before, "the read-only page file is unchanged");
}

void caseDirectory(const std::string& binary)
{
    mountTmpfs("/home", "size=1m");
    if (mkdir(pageFile, 0755) != 0) {
        broken("cannot make /home/flags a directory");
    }
    expectPageKept(binary, "", "There is nothing to find.\n");
    struct stat status {};
    check(stat(pageFile, &status) == 0 && S_ISDIR(status.st_mode), "/home/flags is still a directory");
}

void caseDiskFull(const std::string& binary)
{
    // 32 KiB in all; the page file takes 16 KiB, a 24 KiB page cannot fit.
    mountTmpfs("/home", "size=32k");
    std::string before;
    for (int i = 0; before.size() < 16 * 1024 - 64; ++i) {
        before += std::to_string(i + 1) + "\n" + std::string(100, 'o') + " \n";
    }
    writeFile(pageFile, before);
    const std::string big(24 * 1024, 'B');
    const std::string script = toLibrary + "write page 1337 " + big + "\nhide page 1\nwrite page 1 small\n" +
                               "write page 2 " + big + "\nwrite page 3 small\nhide pages 2 4\ninventory\n" +
                               "examine page\nquit\n";
    const auto answers = play(binary, script);
    expectEqual(answer(answers, 1), "\n" + lookout + ghosted, "a page that does not fit is refused");
    expectEqual(answer(answers, 5), "\n" + lookout + "Nobody there\n" + lookout + ghosted,
                "the run stops at the page that does not fit");
    expectEqual(answer(answers, 6), "\nYour inventory: \nbig old book\n3 page(s) out of the book\n",
                "the failed page and the one after it stay");
    expectEqual(answer(answers, 7),
                "\n" + block("1337", big + " ") + block("2", big + " ") + block("3", "small ") + "\n",
                "the page item shows the pages still held");
    std::string after;
    check(readFile(pageFile, after) && after == before + "1\nsmall \n",
          "the page file holds the old records and the one page that fit, and nothing of the others");
}

// The text of page j of game g: words of 64 characters (with their space)
// that name the game, the page and the word, 1 KiB to 64 KiB in all.
std::string concurrentText(int g, int j)
{
    const int words = 16 + (g * 200 + j) * 7919 % 1009;
    std::string text;
    text.reserve(static_cast<std::size_t>(words) * 64);
    char word[64];
    for (int k = 0; k < words; ++k) {
        std::snprintf(word, sizeof(word), "g%02dp%03dw%04d", g, j, k);
        text += word;
        text.append(63 - std::strlen(word), static_cast<char>('a' + (g + j + k) % 26));
        text += ' ';
    }
    return text;
}

void caseConcurrent(const std::string& binary)
{
    constexpr int games = 16;
    constexpr int pagesEach = 200;
    mountTmpfs("/home", "size=512m");
    std::vector<Game> running;
    for (int g = 0; g < games; ++g) {
        running.push_back(start(binary, "", [g](int fd) {
            writeAll(fd, toLibrary);
            for (int j = 0; j < pagesEach; ++j) {
                writeAll(fd, "write page " + std::to_string(g * 1000 + j + 1) + " " + concurrentText(g, j) + "\n");
            }
            // Half the games hide page by page, half in runs of 50.
            for (int j = 0; j < pagesEach; ++j) {
                if (g % 2 == 0) {
                    writeAll(fd, "hide page 1\n");
                } else if (j % 50 == 0) {
                    writeAll(fd, "hide pages 1 to 50\n");
                }
            }
            writeAll(fd, "inventory\nquit\n");
        }));
    }
    for (int g = 0; g < games; ++g) {
        const auto answers = finish(running[static_cast<std::size_t>(g)]);
        std::size_t perfect = 0;
        bool refused = false;
        for (const std::string& text : answers) {
            perfect += text.find("Perfect, no one will ever find it\n") != std::string::npos ? 1 : 0;
            refused = refused || text.find(ghosted) != std::string::npos;
        }
        const std::string name = "game " + std::to_string(g);
        check(perfect == (g % 2 == 0 ? pagesEach : pagesEach / 50), name + " hid every page");
        check(!refused, name + " was never refused");
        check(answers.size() >= 2 &&
                  answers[answers.size() - 2] == "\nYour inventory: \nbig old book\n0 page(s) out of the book\n",
              name + " holds no pages at the end");
    }

    // Every record whole, exactly once.
    std::ifstream file(pageFile, std::ios::binary);
    std::vector<int> seen(games * 1000 + pagesEach + 1, 0);
    std::string number;
    std::string text;
    int records = 0;
    while (std::getline(file, number)) {
        const bool hasText = static_cast<bool>(std::getline(file, text));
        char* end = nullptr;
        const long n = std::strtol(number.c_str(), &end, 10);
        const int g = static_cast<int>(n / 1000);
        const int j = static_cast<int>(n % 1000) - 1;
        if (!hasText || *end != '\0' || g < 0 || g >= games || j < 0 || j >= pagesEach ||
            text != concurrentText(g, j)) {
            check(false,
                  "record " + std::to_string(records + 1) + " (number line \"" + number.substr(0, 40) + "\") is whole");
            return;
        }
        ++seen[static_cast<std::size_t>(n)];
        ++records;
    }
    check(file.eof(), "the page file is read to its end");
    for (int g = 0; g < games; ++g) {
        for (int j = 0; j < pagesEach; ++j) {
            const int times = seen[static_cast<std::size_t>(g * 1000 + j + 1)];
            check(times == 1, "page " + std::to_string(g * 1000 + j + 1) + " is recorded once, not " +
                                  std::to_string(times) + " times");
        }
    }
    std::cout << records << " records checked\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: pagestore_test GAME missing|readonly|directory|diskfull|concurrent\n";
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const std::string binary = argv[1];
    const std::string which = argv[2];
    if (unshare(CLONE_NEWNS) != 0) {
        skip("cannot enter a private mount namespace");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        skip("cannot make the mounts private");
    }
    if (which == "missing") {
        caseMissing(binary);
    } else if (which == "readonly") {
        caseReadOnly(binary);
    } else if (which == "directory") {
        caseDirectory(binary);
    } else if (which == "diskfull") {
        caseDiskFull(binary);
    } else if (which == "concurrent") {
        caseConcurrent(binary);
    } else {
        std::cerr << "unknown case " << which << '\n';
        return 2;
    }
    std::cout << (failures == 0 ? "PASS\n" : "");
    return failures == 0 ? 0 : 1;
}
