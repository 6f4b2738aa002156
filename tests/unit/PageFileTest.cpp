// The page file unit on its own, in a private temporary directory.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Files.h"
#include "GameHarness.h"
#include "PageFile.h"

namespace {

class PageFileTest : public ::testing::Test {
protected:
    std::string contents() const { return support::readFile(path).value_or(""); }
    void seed(const std::string& text) const { ASSERT_TRUE(support::writeFile(path, text)); }

    // The text found under key, or "<none>" / "<no file>" / "<unreadable>".
    std::string find(const std::string& key) const
    {
        std::string text;
        switch (PageFile(path).findText(key, [&text](std::string_view piece) { text += piece; })) {
        case PageFile::Lookup::Found:
            return text;
        case PageFile::Lookup::NotFound:
            return "<none>";
        case PageFile::Lookup::NoFile:
            return "<no file>";
        case PageFile::Lookup::Unreadable:
            break;
        }
        return "<unreadable>";
    }
    // Every text of the listing, each followed by '|'.
    std::string list() const
    {
        std::string all;
        switch (PageFile(path).listTexts([&all](std::string_view piece) { all += piece; }, [&all] { all += '|'; })) {
        case PageFile::Listing::Listed:
            return all;
        case PageFile::Listing::NoFile:
            return "<no file>";
        case PageFile::Listing::Unreadable:
            break;
        }
        return "<unreadable>";
    }

    support::TempDir dir;
    std::string path = dir.flags();
};

// Bytes this process has read with read() so far.
long long bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

TEST_F(PageFileTest, AppendsTwoLineRecords)
{
    const PageFile file(path);
    EXPECT_TRUE(file.append(1337, "some words "));
    EXPECT_TRUE(file.append(18446744073709551615ULL, "x "));
    EXPECT_EQ(contents(), "1337\nsome words \n18446744073709551615\nx \n");
}

TEST_F(PageFileTest, RefusesATextWithALineEnd)
{
    EXPECT_FALSE(PageFile(path).append(1, "two\nlines "));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PageFileTest, AppendFailsWithoutTheDirectoryOrOnADirectoryAndSaysWhy)
{
    const std::string missing = dir.name() + "/missing/flags";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(PageFile(missing).append(1, "a "));
    std::filesystem::create_directory(path);
    EXPECT_FALSE(PageFile(path).append(1, "a "));
    // Readers do not take the folder for an empty page file either.
    EXPECT_EQ(find("1"), "<unreadable>");
    EXPECT_EQ(list(), "<unreadable>");
    const std::string cannotRead = "weekend: cannot read the pages in " + path + ": it is a folder (Is a directory)\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "weekend: cannot hide a page in " + missing +
                                                          ": its folder does not exist (No such file or directory)\n"
                                                          "weekend: cannot hide a page in " +
                                                          path + ": it is a folder (Is a directory)\n" + cannotRead +
                                                          cannotRead);
}

TEST_F(PageFileTest, AShortWriteIsCutOffAgain)
{
    seed("1\none \n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    // The file may grow by 10 more bytes: the write stops in the middle of
    // the record, and the next one fails.
    rlimit tight = saved;
    tight.rlim_cur = 7 + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    // The limit would cut a capture file short too: standard error goes
    // into a pipe meanwhile.
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    const int standardError = dup(STDERR_FILENO);
    dup2(errors[1], STDERR_FILENO);
    const bool appended = PageFile(path).append(2, "a text that does not fit ");
    const bool small = PageFile(path).append(3, "tiny ");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    dup2(standardError, STDERR_FILENO);
    close(standardError);
    close(errors[1]);
    char said[256] = {};
    const ssize_t length = read(errors[0], said, sizeof(said));
    close(errors[0]);
    EXPECT_EQ(std::string(said, static_cast<std::size_t>(std::max<ssize_t>(length, 0))),
              "weekend: cannot hide a page in " + path +
                  ": the file has reached the size limit for files (File too large)\n");
    EXPECT_FALSE(appended);
    EXPECT_TRUE(small);
    EXPECT_EQ(contents(), "1\none \n3\ntiny \n");
}

TEST_F(PageFileTest, FindsTheOldestTextUnderAKey)
{
    seed("7\nfirst \n12\ntwelve \n7\nsecond \n");
    EXPECT_EQ(find("7"), "first ");
    EXPECT_EQ(find("12"), "twelve ");
    EXPECT_EQ(find("1"), "<none>");
    EXPECT_EQ(find("123"), "<none>");
    EXPECT_EQ(find("007"), "<none>");
    EXPECT_EQ(find("first"), "<none>"); // the line is "first " with its space
    EXPECT_EQ(find("first "), "12");    // every line is compared, text lines too
}

TEST_F(PageFileTest, KeyOnTheLastLine)
{
    seed("5\nfive \n");
    EXPECT_EQ(find("five "), "");
}

TEST_F(PageFileTest, MissingOrEmptyFile)
{
    EXPECT_EQ(find("1"), "<no file>");
    EXPECT_EQ(list(), "<no file>");
    seed("");
    EXPECT_EQ(find("1"), "<none>");
    EXPECT_EQ(list(), "|");
}

TEST_F(PageFileTest, ListingEndsWithAnEmptyPass)
{
    seed("1\none \n2\ntwo \n");
    EXPECT_EQ(list(), "one |two ||");
    seed("5\n\n6\nsix \n"); // an empty text is a whole record too
    EXPECT_EQ(list(), "|six ||");
}

// What a writer that died in the middle of its record can leave at the end
// of the file, and the file a reader sees and the next writer makes of it.
struct UnfinishedEnd {
    const char* what;
    const char* file;
    const char* whole; // the whole records in it
};

const UnfinishedEnd unfinishedEnds[] = {
    {"cut inside the number line", "1\nabc \n12", "1\nabc \n"},
    {"cut right after the number line", "1\nabc \n12\n", "1\nabc \n"},
    {"cut inside the text", "1\nabc \n12\nhalf a te", "1\nabc \n"},
    {"the last line end missing", "1\nabc \n2\ntwo", "1\nabc \n"},
    {"nothing whole at all", "12", ""},
    {"only a number line", "12\n", ""},
    {"a whole file", "1\nabc \n", "1\nabc \n"},
    {"an empty text last", "1\nabc \n2\n\n", "1\nabc \n2\n\n"},
    {"CR LF line ends", "1\r\nabc \r\n", "1\r\nabc \r\n"},
    {"CR LF line ends, cut after the number", "1\r\nabc \r\n2\r\n", "1\r\nabc \r\n2\r\n"},
};

TEST_F(PageFileTest, ReadersSeeOnlyWholeRecords)
{
    for (const UnfinishedEnd& end : unfinishedEnds) {
        SCOPED_TRACE(end.what);
        seed(end.file);
        EXPECT_EQ(find("12"), "<none>");
        EXPECT_EQ(find("2"), std::string(end.whole).find("2\n") == std::string::npos ? "<none>" : "");
        std::string listing;
        std::string wholeListing;
        PageFile(path).listTexts([&](std::string_view piece) { listing += piece; }, [&] { listing += '|'; });
        seed(end.whole);
        PageFile(path).listTexts([&](std::string_view piece) { wholeListing += piece; }, [&] { wholeListing += '|'; });
        EXPECT_EQ(listing, wholeListing);
    }
}

TEST_F(PageFileTest, AWriterCutsAnUnfinishedRecordAndNothingElse)
{
    for (const UnfinishedEnd& end : unfinishedEnds) {
        SCOPED_TRACE(end.what);
        seed(end.file);
        ASSERT_TRUE(PageFile(path).append(3, "three "));
        EXPECT_EQ(contents(), std::string(end.whole) + "3\nthree \n");
        EXPECT_EQ(find("3"), "three ");
    }
}

TEST_F(PageFileTest, LongLinesStreamThroughAFixedBuffer)
{
    const std::string longText(3 * 1024 * 1024 + 17, 'w');
    const PageFile file(path);
    ASSERT_TRUE(file.append(4, longText));
    ASSERT_TRUE(file.append(5, "after "));
    std::size_t pieces = 0;
    std::size_t largest = 0;
    std::string text;
    ASSERT_EQ(file.findText("4",
                            [&](std::string_view piece) {
                                ++pieces;
                                largest = std::max(largest, piece.size());
                                text += piece;
                            }),
              PageFile::Lookup::Found);
    EXPECT_EQ(text, longText);
    EXPECT_GT(pieces, 1U);
    EXPECT_LE(largest, 1024U * 1024U);
    EXPECT_EQ(find("5"), "after ");
    EXPECT_EQ(find(longText), "5");
}

TEST_F(PageFileTest, AKeyedSearchStopsAtTheFirstMatch)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << "1\nfound \n";
        const std::string filler(1000, 'f');
        for (int i = 0; i < 16 * 1024; ++i) {
            out << "2\n" << filler << " \n";
        }
    }
    const long long before = bytesRead();
    if (before < 0) {
        GTEST_SKIP() << "/proc/self/io is not readable";
    }
    EXPECT_EQ(find("1"), "found ");
    EXPECT_LT(bytesRead() - before, 2 * 1024 * 1024);
}

TEST_F(PageFileTest, ANewFileIsForOwnerAndGroupOnly)
{
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{027}}) {
        std::filesystem::remove(path);
        const mode_t saved = umask(mask);
        const bool appended = PageFile(path).append(1, "a ");
        umask(saved);
        ASSERT_TRUE(appended);
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0660 & ~mask) << "umask " << std::oct << mask;
    }
    // An existing file keeps its mode.
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    ASSERT_TRUE(PageFile(path).append(2, "b "));
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604);
}

TEST_F(PageFileTest, AHeldLockMakesWritersGiveUpAndReadersGoOn)
{
    seed("1\none \n");
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        // Another game that holds the lock and does not let go.
        const int fd = open(path.c_str(), O_RDONLY);
        char byte = 0;
        _exit(fd >= 0 && flock(fd, LOCK_EX) == 0 && write(ready[1], "x", 1) == 1 && read(release[0], &byte, 1) >= 0
                  ? 0
                  : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(find("1"), "one ");
    EXPECT_LT(std::chrono::steady_clock::now() - start, PageFile::lockWait / 2);
    EXPECT_FALSE(PageFile(path).append(2, "two "));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, PageFile::lockWait);
    EXPECT_LT(waited, PageFile::lockWait * 3);
    EXPECT_EQ(contents(), "1\none \n");

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(PageFile(path).append(2, "two "));
    for (const int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
}

// An operator trims the page file as the manual says: under the lock, a
// shorter copy is moved into its place. A game that opened the old file and
// waited for the lock writes into the new one.
TEST_F(PageFileTest, AWriterThatWaitedForATrimWritesIntoTheNewFile)
{
    seed("1\nold \n2\nkept \n");
    const int held = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    bool appended = false;
    std::thread writer([&] { appended = PageFile(path).append(3, "new "); });
    // Once the writer has the old file open, it waits for the lock.
    const auto opened = [this, held] {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (entry.path().filename() != std::to_string(held) &&
                std::filesystem::read_symlink(entry.path(), error) == path) {
                return true;
            }
        }
        return false;
    };
    while (!opened()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(support::writeFile(path + ".new", "2\nkept \n"));
    std::filesystem::rename(path + ".new", path);
    close(held);
    writer.join();
    EXPECT_TRUE(appended);
    EXPECT_EQ(contents(), "2\nkept \n3\nnew \n");
}

TEST_F(PageFileTest, ConcurrentAppendsStayWhole)
{
    constexpr int writers = 8;
    constexpr int records = 50;
    for (int w = 0; w < writers; ++w) {
        if (fork() == 0) {
            const PageFile file(path);
            for (int r = 0; r < records; ++r) {
                const std::string text(static_cast<std::size_t>(1000 + 977 * r % 20000), static_cast<char>('a' + w));
                if (!file.append(static_cast<unsigned long long>(w * 1000 + r + 1), text + " ")) {
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    for (int w = 0; w < writers; ++w) {
        int status = 0;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::istringstream in(contents());
    std::string number;
    std::string text;
    std::vector<int> seen(writers * 1000 + records + 1, 0);
    while (std::getline(in, number) && std::getline(in, text)) {
        const int n = std::stoi(number);
        const int w = n / 1000;
        const int r = n % 1000 - 1;
        ASSERT_EQ(text,
                  std::string(static_cast<std::size_t>(1000 + 977 * r % 20000), static_cast<char>('a' + w)) + " ");
        ++seen[static_cast<std::size_t>(n)];
    }
    for (int w = 0; w < writers; ++w) {
        for (int r = 0; r < records; ++r) {
            EXPECT_EQ(seen[static_cast<std::size_t>(w * 1000 + r + 1)], 1);
        }
    }
}

} // namespace
