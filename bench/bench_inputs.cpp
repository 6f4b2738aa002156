#include "bench_inputs.h"

#include <array>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

namespace bench {

namespace {

// splitmix64: small, fast and good enough to pick words and sizes.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31U);
    }
    // Uniform in [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) { return low + next() % (high - low + 1); }

private:
    std::uint64_t state;
};

constexpr std::array<std::string_view, 96> vocabulary = {
    "the",     "key",      "is",     "under",   "mat",    "behind",    "old",      "oak",      "tree",    "meet",
    "me",      "at",       "pub",    "after",   "dark",   "do",        "not",      "tell",     "anyone",  "about",
    "money",   "password", "secret", "library", "street", "party",     "shoes",    "store",    "friend",  "enemy",
    "house",   "garden",   "window", "broken",  "book",   "page",      "remember", "forget",   "weekend", "night",
    "drink",   "beer",     "coffee", "bucket",  "shovel", "sand",      "castle",   "computer", "power",   "supply",
    "battery", "laptop",   "girl",   "mother",  "father", "neighbour", "fence",    "climb",    "run",     "hide",
    "search",  "find",     "lost",   "found",   "Monday", "Sunday",    "code",     "1337",     "42",      "a",
    "an",      "and",      "or",     "but",     "if",     "then",      "because",  "maybe",    "never",   "always",
    "quick",   "look",     "left",   "right",   "nobody", "there",     "perfect",  "one",      "will",    "ever",
    "it",      "was",      "were",   "we",      "you",    "they",
};

// Page numbers as players pick them: the number of digits is uniform, so
// short numbers recur and long ones are mostly unique.
std::uint64_t pageNumber(Random& random)
{
    std::uint64_t digits = random.between(1, 12);
    std::uint64_t low = 1;
    for (std::uint64_t i = 1; i < digits; ++i) {
        low *= 10;
    }
    return random.between(low, low * 10 - 1);
}

void appendWords(std::string& text, std::uint64_t bytes, Random& random)
{
    while (text.size() < bytes) {
        text += vocabulary[random.next() % vocabulary.size()];
        text += ' ';
    }
}

} // namespace

std::string walkToLibrary() { return "bench\ne\nne\ne\n"; }

std::string sessionScript(std::uint64_t commands)
{
    // Your Room -> garden -> bedroom -> street -> pub -> back alley ->
    // library -> back home; every room visited is described once, and
    // every few steps the player looks around.
    static constexpr std::array<std::string_view, 22> roundTrip = {
        "e", "s", "look", "e", "n", "look", "s",    "w", "n",  "ne", "look",
        "n", "n", "look", "s", "s", "e",    "look", "w", "sw", "w",  "look",
    };
    std::string script = "bench\n";
    for (std::uint64_t i = 0; i < commands; ++i) {
        script += roundTrip[i % roundTrip.size()];
        script += '\n';
    }
    return script;
}

std::string writeScript(std::uint64_t pages, std::uint64_t firstNumber)
{
    std::string script = walkToLibrary() + "take book\n";
    Random random(firstNumber);
    for (std::uint64_t i = 0; i < pages; ++i) {
        script += "write page ";
        script += std::to_string(firstNumber + i);
        script += ' ';
        appendWords(script, script.size() + random.between(40, 120), random);
        script.back() = '\n';
    }
    return script;
}

std::string hideScript(std::uint64_t pages, std::uint64_t firstNumber)
{
    std::string script = writeScript(pages, firstNumber);
    for (std::uint64_t i = 0; i < pages; ++i) {
        script += "hide page 1\n";
    }
    return script;
}

std::string searchScript(const std::string& key)
{
    return walkToLibrary() + (key.empty() ? "search\n" : "search " + key + "\n");
}

std::string pageText(std::uint64_t bytes, std::uint64_t seed)
{
    Random random(seed);
    std::string text;
    appendWords(text, bytes, random);
    return text;
}

PageFileInfo makePageFile(const std::string& path, std::uint64_t bytes, std::uint64_t seed)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    Random random(seed);
    std::unordered_set<std::uint64_t> used;
    PageFileInfo info;
    std::string record;
    while (info.bytes < bytes) {
        record.clear();
        std::uint64_t number = pageNumber(random);
        const std::uint64_t textBytes = random.between(1024, 65536);
        // A record is at most 32 bytes longer than its text size: the
        // number, two line ends and the last word's overshoot.
        const bool last = info.bytes + textBytes + 32 >= bytes;
        while (last && used.count(number) != 0) {
            number = pageNumber(random);
        }
        used.insert(number);
        record += std::to_string(number);
        record += '\n';
        appendWords(record, record.size() + textBytes, random);
        record += '\n';
        if (std::fwrite(record.data(), 1, record.size(), file.get()) != record.size()) {
            throw std::runtime_error("cannot write " + path);
        }
        info.bytes += record.size();
        ++info.records;
        if (last) {
            info.presentKey = std::to_string(number);
        }
    }
    std::uint64_t absent = pageNumber(random);
    while (used.count(absent) != 0) {
        absent = pageNumber(random);
    }
    info.absentKey = std::to_string(absent);
    if (std::fflush(file.get()) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
    return info;
}

} // namespace bench
