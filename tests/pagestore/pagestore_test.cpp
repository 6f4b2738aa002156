// The page store against the real game binary: page files that fail in
// every way we know, one test each, and many games hiding pages at once.
// Each test runs under tests/support/private-pages, in a private page-file
// folder of its own, so the machine's real page file is never touched.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Files.h"
#include "GameHarness.h"
#include "GameProcess.h"
#include "PrivatePages.h"
#include "Transcript.h"

namespace {

const std::string pageFile = WEEKEND_TEST_PAGE_FILE;
const std::string lookout = "quick look to the left.....\nquick look to the right.....  ";
const std::string ghosted = "You cannot hide yet, someone is arround ghosting you\n";
const std::string ripped = "Crrrsccccccchht you ripped that page out of the book\n";
const std::string hidden = "Perfect, no one will ever find it\n";

std::string block(const std::string& number, const std::string& text)
{
    return "\nThis is page nr. " + number + " of the big old book and it reads:\n\n\t\"" + text + "\"";
}

// The size of the page file, or -1 while there is none.
off_t pageFileSize()
{
    struct stat status {};
    return stat(pageFile.c_str(), &status) == 0 ? status.st_size : -1;
}

class PageStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(support::privatePagesProblem(pageFile), ""); }

    // The way to the library with the book taken, after the name.
    static std::vector<std::string> toTheBook()
    {
        std::vector<std::string> lines{"Tester"};
        std::istringstream walk(support::walkTo("Old mysterious Library"));
        for (std::string step; std::getline(walk, step);) {
            lines.push_back(step);
        }
        lines.emplace_back("take book");
        return lines;
    }

    // Plays the commands in the library with the book in hand, each line fed
    // when the game asks for it; returns the answer to each command.
    static std::vector<std::string> playInLibrary(const std::vector<std::string>& commands,
                                                  const std::string& root = "")
    {
        std::vector<std::string> lines = toTheBook();
        const std::size_t before = lines.size();
        lines.insert(lines.end(), commands.begin(), commands.end());
        lines.emplace_back("quit");
        support::GameProcess process(binary(), root);
        const support::Game game = support::playReads(process, support::typedLines(lines), deadline());
        EXPECT_EQ(process.status(), 0) << "the game " << support::describeStatus(process.status());
        std::vector<std::string> answers = support::answersOf(game);
        answers.erase(answers.begin(), answers.begin() + static_cast<std::ptrdiff_t>(std::min(before, answers.size())));
        answers.resize(commands.size(), "(no answer)");
        return answers;
    }

    // The page cannot be hidden: the game says so, keeps the page, and a
    // search afterwards gives searchAnswer.
    static void expectPageKept(const std::string& searchAnswer, const std::string& root = "")
    {
        const std::vector<std::string> answers = playInLibrary(
            {"write page 1337 secret words", "hide page 1", "inventory", "examine page", "search 1337"}, root);
        EXPECT_EQ(answers[0], "\n" + ripped + "The 1 page(s) out of the book was added to your inventory\n");
        EXPECT_EQ(answers[1], "\n" + lookout + ghosted) << "the hide is refused";
        EXPECT_EQ(answers[2], "\nYour inventory: \nbig old book\n1 page(s) out of the book\n") << "the page stays";
        const std::string page = block("1337", "secret words ");
        EXPECT_EQ(answers[3], "\n" + page + "\n") << "the page item still shows it";
        EXPECT_EQ(answers[4], "\n" + lookout + "Nobody there\n\n" + searchAnswer);
    }

    // The name, the way to the library and "take book", one line each.
    static std::string linesToTheBook()
    {
        std::string lines;
        for (const std::string& line : toTheBook()) {
            lines += line + "\n";
        }
        return lines;
    }

    // A game that hides one page of pageBytes bytes ("77\n", that many 'x',
    // " \n"), caught while it writes the record: returned once the page file
    // has begun to grow past before, which it does under the lock.
    static std::unique_ptr<support::GameProcess> hideCaughtWriting(std::size_t pageBytes, off_t before)
    {
        auto game = std::make_unique<support::GameProcess>(binary());
        game->feed(linesToTheBook() + "write page 77 " + std::string(pageBytes, 'x') + "\nhide page 1\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (pageFileSize() <= before && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return game;
    }

    static support::GameBinary& binary()
    {
        static support::GameBinary game(WEEKEND_GAME);
        return game;
    }
    static std::chrono::steady_clock::time_point deadline()
    {
        return std::chrono::steady_clock::now() + std::chrono::minutes(10);
    }
};

TEST_F(PageStore, NoHomeDirectoryKeepsThePage)
{
    // A root of its own for the game, in the private folder, which goes with
    // its mounts when the test ends: the system's libraries, /proc and /dev
    // (a sanitizer build reads /proc) are there, the page file's directory is not.
    const std::string root = support::directoryOf(pageFile) + "/weekend-root";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    for (const char* dir : {"usr", "lib", "lib64", "bin", "proc", "dev"}) {
        struct stat status {};
        const std::string system = std::string("/") + dir;
        const std::string inRoot = root + system;
        if (lstat(system.c_str(), &status) != 0) {
            continue;
        }
        if (S_ISLNK(status.st_mode)) {
            ASSERT_EQ(symlink((std::string("usr/") + dir).c_str(), inRoot.c_str()), 0) << inRoot;
        } else {
            ASSERT_EQ(mkdir(inRoot.c_str(), 0755), 0) << inRoot;
            ASSERT_EQ(mount(system.c_str(), inRoot.c_str(), nullptr, MS_BIND | MS_REC, nullptr), 0)
                << "cannot bind " << system << " into the game's root: " << std::strerror(errno);
        }
    }
    const std::string missing = root + support::directoryOf(pageFile);
    struct stat status {};
    ASSERT_NE(stat(missing.c_str(), &status), 0) << "the game's root has no " << support::directoryOf(pageFile);
    expectPageKept("There is nothing to find.\n", root);
    EXPECT_NE(stat(missing.c_str(), &status), 0) << "nothing made " << support::directoryOf(pageFile);
}

TEST_F(PageStore, ReadOnlyHomeKeepsThePage)
{
    const std::string before = "1337\nold words \n";
    ASSERT_TRUE(support::writeFile(pageFile, before));
    support::remountPages(pageFile, support::Access::ReadOnly);
    expectPageKept("old words \n\n");
    EXPECT_EQ(support::readFile(pageFile), before) << "the read-only page file is unchanged";
}

TEST_F(PageStore, DirectoryInPlaceOfThePageFileKeepsThePage)
{
    ASSERT_EQ(mkdir(pageFile.c_str(), 0755), 0);
    // Nor is the folder taken for an empty page file.
    expectPageKept("You cannot get to the hidden pages right now, try again later\n\n");
    struct stat status {};
    EXPECT_TRUE(stat(pageFile.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) << "still a directory";
}

TEST_F(PageStore, FullDiskStopsARunAtThePageThatDoesNotFit)
{
    // 32 KiB in all; the page file takes 16 KiB, a 24 KiB page cannot fit.
    support::remountPages(pageFile, support::Access::Writable, "size=32k");
    std::string before;
    for (int i = 0; before.size() < 16 * 1024 - 64; ++i) {
        before += std::to_string(i + 1) + "\n" + std::string(100, 'o') + " \n";
    }
    ASSERT_TRUE(support::writeFile(pageFile, before));
    const std::string big(24 * 1024, 'B');
    const std::vector<std::string> answers =
        playInLibrary({"write page 1337 " + big, "hide page 1", "write page 1 small", "write page 2 " + big,
                       "write page 3 small", "hide pages 2 4", "inventory", "examine page"});
    EXPECT_EQ(answers[1], "\n" + lookout + ghosted) << "a page that does not fit is refused";
    EXPECT_EQ(answers[5], "\n" + lookout + "Nobody there\n" + lookout + ghosted)
        << "the run stops at the page that does not fit";
    EXPECT_EQ(answers[6], "\nYour inventory: \nbig old book\n3 page(s) out of the book\n")
        << "the failed page and the one after it stay";
    const std::string pages = block("1337", big + " ") + block("2", big + " ") + block("3", "small ");
    EXPECT_EQ(answers[7], "\n" + pages + "\n");
    EXPECT_EQ(support::readFile(pageFile), before + "1\nsmall \n")
        << "the page file holds the old records and the one page that fit, and nothing of the others";
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

TEST_F(PageStore, ConcurrentGamesWriteEveryRecordWholeAndOnce)
{
    constexpr int games = 16;
    constexpr int pagesEach = 200;
    std::vector<support::Played> played(games);
    std::vector<std::thread> players;
    for (int g = 0; g < games; ++g) {
        players.emplace_back([g, &played] {
            std::string script;
            for (const std::string& line : toTheBook()) {
                script += line + "\n";
            }
            for (int j = 0; j < pagesEach; ++j) {
                script += "write page " + std::to_string(g * 1000 + j + 1) + " " + concurrentText(g, j) + "\n";
            }
            // Half the games hide page by page, half in runs of 50.
            for (int j = 0; j < pagesEach; ++j) {
                if (g % 2 == 0) {
                    script += "hide page 1\n";
                } else if (j % 50 == 0) {
                    script += "hide pages 1 to 50\n";
                }
            }
            played[static_cast<std::size_t>(g)] = support::playAll(binary(), script + "inventory\nquit\n");
        });
    }
    for (std::thread& player : players) {
        player.join();
    }
    for (int g = 0; g < games; ++g) {
        const support::Played& game = played[static_cast<std::size_t>(g)];
        std::size_t hides = 0;
        for (std::size_t at = game.output.find(hidden); at != std::string::npos;
             at = game.output.find(hidden, at + 1)) {
            ++hides;
        }
        EXPECT_EQ(game.status, 0) << "game " << g;
        EXPECT_EQ(hides, g % 2 == 0 ? pagesEach : pagesEach / 50) << "game " << g << " hid every page";
        EXPECT_EQ(game.output.find(ghosted), std::string::npos) << "game " << g << " was never refused";
        const std::string end = "\nYour inventory: \nbig old book\n0 page(s) out of the book\n> ";
        EXPECT_TRUE(game.output.size() >= end.size() &&
                    game.output.compare(game.output.size() - end.size(), end.size(), end) == 0)
            << "game " << g << " holds no pages at the end";
    }

    // Every record whole, exactly once.
    const std::optional<std::string> file = support::readFile(pageFile);
    ASSERT_TRUE(file);
    std::istringstream records(*file);
    std::vector<int> seen(games * 1000 + pagesEach + 1, 0);
    int count = 0;
    for (std::string number, text; std::getline(records, number);) {
        ASSERT_TRUE(std::getline(records, text)) << "record " << count + 1 << " has its text";
        char* end = nullptr;
        const long n = std::strtol(number.c_str(), &end, 10);
        const int g = static_cast<int>(n / 1000);
        const int j = static_cast<int>(n % 1000) - 1;
        ASSERT_TRUE(*end == '\0' && g >= 0 && g < games && j >= 0 && j < pagesEach && text == concurrentText(g, j))
            << "record " << count + 1 << " (number line \"" << number.substr(0, 40) << "\") is whole";
        ++seen[static_cast<std::size_t>(n)];
        ++count;
    }
    for (int g = 0; g < games; ++g) {
        for (int j = 0; j < pagesEach; ++j) {
            EXPECT_EQ(seen[static_cast<std::size_t>(g * 1000 + j + 1)], 1) << "page " << g * 1000 + j + 1;
        }
    }
    EXPECT_EQ(count, games * pagesEach);
}

TEST_F(PageStore, AWriterKilledInTheMiddleOfARecordBreaksNothingForTheNext)
{
    const std::string before = "1\none \n";
    const off_t whole = static_cast<off_t>(before.size() + 3 + 100'000'000 + 2);
    bool torn = false;
    // The kill lands in the middle of the record nearly always; a writer
    // that was faster is tried again.
    for (int attempt = 0; attempt < 5 && !torn; ++attempt) {
        ASSERT_TRUE(support::writeFile(pageFile, before));
        const std::unique_ptr<support::GameProcess> writer = hideCaughtWriting(100'000'000, before.size());
        ASSERT_FALSE(writer->ended()) << "the writer " << support::describeStatus(writer->status());
        kill(writer->id(), SIGKILL);
        writer->finish(deadline());
        EXPECT_EQ(writer->status(), 128 + SIGKILL);
        torn = pageFileSize() != whole;
    }
    ASSERT_TRUE(torn) << "no writer was killed in the middle of its record";

    const std::vector<std::string> answers =
        playInLibrary({"write page 100 next", "hide page 1", "search 100", "search"});
    EXPECT_EQ(answers[1], "\n" + lookout + "Nobody there\n" + hidden);
    EXPECT_EQ(answers[2], "\n" + lookout + "Nobody there\n\nnext \n\n") << "the next page is found";
    EXPECT_EQ(answers[3],
              "\nWhere do you want to search something?\n" + lookout + "Nobody there\n\none \n\nnext \n\n\n\n")
        << "the listing is aligned and shows nothing of the unfinished record";
    EXPECT_EQ(support::readFile(pageFile), before + "100\nnext \n") << "only the unfinished record was cut";
}

TEST_F(PageStore, AHangUpOrTerminateDuringAWriteActsOnlyOnceTheRecordIsWhole)
{
    const std::string before = "1\none \n";
    for (const int signal : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        ASSERT_TRUE(support::writeFile(pageFile, before));
        const std::unique_ptr<support::GameProcess> writer = hideCaughtWriting(100'000'000, before.size());
        ASSERT_FALSE(writer->ended()) << "the writer " << support::describeStatus(writer->status());
        kill(writer->id(), signal);
        writer->finish(deadline());
        EXPECT_EQ(writer->status(), 128 + signal) << "the signal still ends the game";
        const std::optional<std::string> after = support::readFile(pageFile);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->size(), before.size() + 3 + 100'000'000 + 2) << "the record is whole";
        EXPECT_EQ(after->substr(0, before.size() + 3), before + "77\n");
        EXPECT_EQ(after->substr(after->size() - 4), "xx \n");
    }
}

TEST_F(PageStore, AGameStoppedWhileWritingHoldsUpNoOtherGameForLong)
{
    const std::string before = "1\none \n";
    ASSERT_TRUE(support::writeFile(pageFile, before));
    const std::unique_ptr<support::GameProcess> stopped = hideCaughtWriting(100'000'000, before.size());
    ASSERT_FALSE(stopped->ended()) << "the writer " << support::describeStatus(stopped->status());
    kill(stopped->id(), SIGSTOP);

    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> answers = playInLibrary({"search 1", "write page 5 five", "hide page 1", "search"});
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answers[0], "\n" + lookout + "Nobody there\n\none \n\n") << "the search does not wait";
    EXPECT_EQ(answers[2], "\n" + lookout + ghosted) << "the hide gives up and keeps the page";
    // A stop takes effect once the write in progress returns: the stopped
    // game's record is whole, or not there at all, but still locked.
    const std::string listed = "\nWhere do you want to search something?\n" + lookout + "Nobody there\n\none \n\n";
    const std::string stoppedText = std::string(100'000'000, 'x') + " \n\n";
    EXPECT_TRUE(answers[3] == listed + "\n\n" || answers[3] == listed + stoppedText + "\n\n")
        << "the listing shows whole records only (" << answers[3].size() << " bytes)";
    EXPECT_LT(waited, std::chrono::seconds(15)) << "a few seconds for the lock, not for ever";

    kill(stopped->id(), SIGCONT);
    stopped->feed("search 77\nquit\n");
    const std::string rest = stopped->finish(deadline());
    EXPECT_EQ(stopped->status(), 0);
    EXPECT_NE(rest.find(hidden), std::string::npos) << "the stopped game hides its page once it goes on";
    EXPECT_EQ(pageFileSize(), static_cast<off_t>(before.size() + 3 + 100'000'000 + 2));
}

#if !defined(WEEKEND_SANITIZER_BUILD) // the sanitizers need more address space than any limit allows
TEST_F(PageStore, ALineBeyondTheMemoryLimitIsRefusedAndTheGameGoesOn)
{
    const std::string before = "1\none \n";
    ASSERT_TRUE(support::writeFile(pageFile, before));
    // A 100 MB line of one-letter words under a 256 MiB address-space limit,
    // as a service's memory limit would set.
    std::string words;
    words.reserve(100'000'000);
    while (words.size() < 100'000'000) {
        words += "a ";
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 256UL * 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    std::optional<support::GameProcess> game;
    game.emplace(binary());
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    game->feed(linesToTheBook() + "write page 1 " + words + "\nhide page 1\ninventory\nquit\n");
    const std::string output = game->finish(deadline());
    EXPECT_EQ(game->status(), 0) << "no abort: the game " << support::describeStatus(game->status());
    EXPECT_NE(output.find("> That line is too long for me, try a shorter one...\n> \nYou dont have pages to hide...\n"),
              std::string::npos);
    EXPECT_NE(output.find("\nYour inventory: \nbig old book\n> "), std::string::npos);
    EXPECT_EQ(support::readFile(pageFile), before) << "the page file is untouched";
}
#endif

} // namespace
