// The keyed search against a plain line-by-line reading of the same file,
// with every pattern finder this build has.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "PageFile.h"
#include "PatternSearch.h"

namespace {

struct Finder {
    const char* name;
    PatternFinder find;
};

const std::vector<Finder>& finders()
{
    static const std::vector<Finder> all
    {
        {"portable", findPatternPortable},
#if defined(__SSE2__)
            {"sse2", findPatternSse2},
#endif
    };
    return all;
}

TEST(PatternSearch, FindersAgreeWithStringFind)
{
    std::minstd_rand random(7);
    // Few distinct bytes, so that partial matches are everywhere.
    const std::string alphabet("\nab\0", 4);
    for (int round = 0; round < 2000; ++round) {
        std::string data(random() % 80, 'a');
        for (char& c : data) {
            c = alphabet[random() % alphabet.size()];
        }
        std::string pattern(1 + random() % 6, 'a');
        for (char& c : pattern) {
            c = alphabet[random() % alphabet.size()];
        }
        const std::size_t expected = std::string_view(data).find(pattern);
        for (const Finder& finder : finders()) {
            EXPECT_EQ(finder.find(data.data(), data.size(), pattern),
                      expected == std::string_view::npos ? noMatch : expected)
                << finder.name << " pattern of " << pattern.size() << " in " << data.size() << " bytes";
        }
    }
}

TEST(PatternSearch, MatchesAfterLongLinesAreFound)
{
    // Long stretches without a line end are skipped in big steps; a match
    // anywhere after them, also near the end of the data, is still found.
    for (const std::size_t run : {200U, 255U, 256U, 257U, 300U, 1000U, 5000U}) {
        for (std::size_t after = 0; after < 70; ++after) {
            const std::string data =
                std::string(run, 'x') + std::string(after, '\n') + "\nkey\n" + std::string(after, 'y');
            for (const Finder& finder : finders()) {
                EXPECT_EQ(finder.find(data.data(), data.size(), "\nkey\n"), run + after)
                    << finder.name << ", a line of " << run << ", then " << after << " line ends";
            }
        }
    }
}

TEST(PatternSearch, NoFinderReadsPastTheEnd)
{
    // The data ends at the end of a heap block: the sanitizers see any
    // read beyond it. The match is in the last place it can be.
    for (std::size_t size = 3; size < 70; ++size) {
        const std::unique_ptr<char[]> data(new char[size]);
        std::fill_n(data.get(), size, 'x');
        data[size - 3] = '\n';
        data[size - 2] = 'k';
        data[size - 1] = '\n';
        for (const Finder& finder : finders()) {
            EXPECT_EQ(finder.find(data.get(), size, "\nk\n"), size - 3) << finder.name;
            EXPECT_EQ(finder.find(data.get(), size - 1, "\nk\n"), noMatch) << finder.name;
        }
    }
}

// The answer of a plain reading: the file cut to its whole records (the
// last line must have its line end, and a number line at the end has lost
// its text), split into lines; the line after the first line equal to key.
std::optional<std::string> referenceFind(std::string file, const std::string& key)
{
    const std::size_t lastEnd = file.rfind('\n');
    file.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    if (!file.empty()) {
        const std::size_t start = file.rfind('\n', file.size() - 2) + 1; // npos + 1 is 0
        const std::string last = file.substr(start, file.size() - 1 - start);
        if (!last.empty() && last.find_first_not_of("0123456789") == std::string::npos) {
            file.resize(start);
        }
    }
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < file.size();) {
        const std::size_t end = file.find('\n', from);
        lines.push_back(file.substr(from, end - from));
        from = end + 1;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == key) {
            return i + 1 < lines.size() ? lines[i + 1] : "";
        }
    }
    return std::nullopt;
}

class KeyedSearch : public ::testing::Test {
protected:
    // Checks every finder's answer for key in file against the reference.
    void check(const std::string& file, const std::string& key, const std::string& what)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
        const std::optional<std::string> expected = referenceFind(file, key);
        for (const Finder& finder : finders()) {
            std::string text;
            const PageFile::Lookup result = PageFile(path).findText(
                key, [&text](std::string_view piece) { text += piece; }, finder.find);
            if (expected) {
                EXPECT_EQ(result, PageFile::Lookup::Found) << what << " (" << finder.name << ")";
                EXPECT_EQ(text, *expected) << what << " (" << finder.name << ")";
            } else {
                EXPECT_EQ(result, PageFile::Lookup::NotFound) << what << " (" << finder.name << ")";
            }
        }
    }

    support::TempDir dir;
    std::string path = dir.flags();
};

// Appends a record of 'f's that makes file exactly size bytes long.
void padTo(std::string& file, std::size_t size)
{
    const std::size_t overhead = 4; // "9\n", then " \n" after the text
    ASSERT_GE(size, file.size() + overhead);
    file += "9\n" + std::string(size - file.size() - overhead, 'f') + " \n";
}

TEST_F(KeyedSearch, KeysWhereverTheyStand)
{
    const std::string records = "1\none \n42\nforty-two \n142\nx \n4242\ny \n7\n\n8\neight \n";
    check("42\nat the start \n" + records, "42", "key at the file's start");
    check(records, "42", "key in the middle");
    check(records, "4", "key as a prefix of longer lines only");
    check(records, "2", "key as a suffix of longer lines only");
    check(records, "7", "empty text");
    check(records, "forty-two ", "key equal to a text line");
    check("1\nthe 42 here \n", "42", "key inside a text line");
    check(records + "99\nlast \n", "99", "key of the last record");
    check(records + "99", "99", "key at the end without a line end");
    check(records + "99\n", "99", "key at the end with a line end but no text");
    check(records + "99\nhalf", "99", "key whose text has no line end");
    check(std::string("1\0\n\0a \n", 7) + records, std::string("1\0", 2), "NUL bytes in the key and the text");
    check(std::string("5\nnul\0and more \n", 17), "5", "a NUL byte in a text");
    check("", "42", "an empty file");
    check("12\r\nabc \r\n", "12", "CR LF line ends are part of the line");
}

TEST_F(KeyedSearch, KeysAtAndAcrossReadBlockBoundaries)
{
    const std::string longKey(5000, 'k'); // longer than a page of carried bytes
    for (const std::string& key : {std::string("123456"), longKey}) {
        for (const std::size_t boundary : {PageFile::readBlock, 2 * PageFile::readBlock}) {
            // Places where the key's line ends just before the boundary, its
            // line end or first byte falls on it, or the key straddles it.
            std::vector<std::size_t> places;
            for (std::size_t near = 0; near <= 6; ++near) {
                places.push_back(boundary - key.size() - 4 + near);
                places.push_back(boundary - 3 + near);
            }
            places.push_back(boundary - key.size() / 2);
            for (const std::size_t at : places) {
                std::string file = "1\nbefore \n";
                padTo(file, at);
                file += key + "\nfound it \n";
                padTo(file, file.size() + 100);
                check(file, key,
                      "key record at " + std::to_string(at) + " (block boundary " + std::to_string(boundary) +
                          ", key of " + std::to_string(key.size()) + " bytes)");
                if (HasFailure()) {
                    return;
                }
            }
        }
    }
}

TEST_F(KeyedSearch, TextsAcrossReadBlockBoundaries)
{
    std::string file = "1\none \n";
    padTo(file, PageFile::readBlock - 10);
    file += "5\n" + std::string(3 * PageFile::readBlock, 't') + " \n6\nsix \n";
    check(file, "5", "a text over several blocks");
    check(file, "6", "a key after a long text");
}

} // namespace
