// In-process figures: the weekend game driven through string streams, with
// its output thrown away, timed by Google Benchmark. Each benchmark also
// reports heap_peak_bytes: the largest amount of heap held at once while it
// ran, above what was held before it started.
//
// The page-file benchmarks write their own page files (1 MB and 100 MB, the
// same records as the whole-process ones) into $WEEKEND_BENCH_DIR, or a
// fresh directory under /tmp, and delete them at the end. Run by
// bench/run.sh; see docs/performance.md.

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <streambuf>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Command.h"
#include "Example.h"
#include "bench_inputs.h"

// ---- Heap watching: every allocation of the process goes through here. ----

namespace {

std::atomic<std::size_t> heapLive{0};
std::atomic<std::size_t> heapPeak{0};

void* allocate(std::size_t size, std::size_t alignment = 0)
{
    void* block = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        block = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    } else {
        block = std::malloc(size == 0 ? 1 : size);
    }
    if (block != nullptr) {
        const std::size_t live =
            heapLive.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) + malloc_usable_size(block);
        std::size_t peak = heapPeak.load(std::memory_order_relaxed);
        while (live > peak && !heapPeak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
        }
    }
    return block;
}

void release(void* block) noexcept
{
    if (block != nullptr) {
        heapLive.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
        std::free(block);
    }
}

void* allocateOrThrow(std::size_t size, std::size_t alignment = 0)
{
    void* block = allocate(size, alignment);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { release(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { release(block); }
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept { release(block); }
void operator delete(void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept { release(block); }
void operator delete[](void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept { release(block); }

namespace {

// Measures the heap's high-water mark from its construction on.
class HeapWatch {
public:
    HeapWatch() : base(heapLive.load()) { heapPeak.store(base); }
    double peakAbove() const { return static_cast<double>(heapPeak.load() - base); }

private:
    std::size_t base;
};

// ---- A sink for the game's output that only counts the bytes. ----

class CountingBuffer : public std::streambuf {
public:
    std::uint64_t bytes = 0;

protected:
    int overflow(int c) override
    {
        ++bytes;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* /*text*/, std::streamsize count) override
    {
        bytes += static_cast<std::uint64_t>(count);
        return count;
    }
};

class CountingStream : public std::ostream {
public:
    CountingStream() : std::ostream(&buffer) {}
    std::uint64_t bytes() const { return buffer.bytes; }
    void reset() { buffer.bytes = 0; }

private:
    CountingBuffer buffer;
};

// Reads a string in place: a script of 100,000 commands must not be copied
// into the heap that the benchmark watches.
class ViewBuffer : public std::streambuf {
public:
    explicit ViewBuffer(const std::string& text)
    {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

std::string benchDir;

std::string pageFilePath(const std::string& name) { return benchDir + "/" + name; }

// One whole game, as main plays it, from the given input.
void playGame(const std::string& script, const std::string& pageFile)
{
    ViewBuffer buffer(script);
    std::istream input(&buffer);
    CountingStream output;
    Example game(input, output, pageFile);
    game.clearScreen();
    game.init();
    game.play();
}

void StartUp(benchmark::State& state, const std::string& script)
{
    const std::string pageFile = pageFilePath("no-such-page-file");
    HeapWatch heap;
    for (auto _ : state) {
        playGame(script, pageFile);
    }
    state.counters["heap_peak_bytes"] = heap.peakAbove();
}
BENCHMARK_CAPTURE(StartUp, eof, std::string())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StartUp, name_quit, std::string("bench\nquit\n"))->Unit(benchmark::kMicrosecond);

// Whole games from a generated script: items_per_second is commands per
// second for walking and looking around, pages per second for writing.
void Scripted(benchmark::State& state, std::string (*makeScript)(std::uint64_t))
{
    const std::string script = makeScript(static_cast<std::uint64_t>(state.range(0)));
    const std::string pageFile = pageFilePath("no-such-page-file");
    HeapWatch heap;
    for (auto _ : state) {
        playGame(script, pageFile);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["heap_peak_bytes"] = heap.peakAbove();
}
BENCHMARK_CAPTURE(Scripted, Session, bench::sessionScript)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scripted, Session, bench::sessionScript)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->Repetitions(3);
BENCHMARK_CAPTURE(Scripted, Write, [](std::uint64_t pages) { return bench::writeScript(pages); })
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scripted, Write, [](std::uint64_t pages) { return bench::writeScript(pages); })
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3);

// A game standing in the library, ready for search commands.
struct LibraryGame {
    explicit LibraryGame(const std::string& pageFile)
        : script(bench::walkToLibrary()), buffer(script), input(&buffer), game(input, output, pageFile)
    {
        game.clearScreen();
        game.init();
        game.play();
        output.reset();
    }
    std::string script;
    ViewBuffer buffer;
    std::istream input;
    CountingStream output;
    Example game;
};

// One search command (key empty: the listing) per iteration, without the
// start-up and the walk. bytes_per_second is page-file bytes per second.
void Search(benchmark::State& state, const std::string& pageFile, std::uint64_t fileBytes, const std::string& key,
            std::uint64_t expectAtLeast, std::uint64_t expectBelow)
{
    LibraryGame library(pageFile);
    HeapWatch heap;
    for (auto _ : state) {
        library.game.processCommand(Command("search", key));
    }
    state.counters["heap_peak_bytes"] = heap.peakAbove();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileBytes));
    const std::uint64_t printed = library.output.bytes() / state.iterations();
    if (printed < expectAtLeast || printed >= expectBelow) {
        state.SkipWithError("the search printed an unexpected amount: is the search command implemented?");
    }
}

void registerPageFileBenchmarks(std::vector<std::string>& files)
{
    struct Size {
        const char* label;
        std::uint64_t bytes;
    };
    for (const Size size : {Size{"1MB", 1000000}, Size{"100MB", 100000000}}) {
        const std::string path = pageFilePath(std::string("flags-") + size.label);
        const bench::PageFileInfo info = bench::makePageFile(path, size.bytes, size.bytes);
        files.push_back(path);
        const std::string suffix = std::string("/") + size.label;
        // A found page prints its text (at least 1 KiB); a miss a few lines;
        // the listing every text.
        benchmark::RegisterBenchmark(("SearchPresent" + suffix).c_str(), Search, path, info.bytes, info.presentKey,
                                     1024, UINT64_MAX)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SearchAbsent" + suffix).c_str(), Search, path, info.bytes, info.absentKey, 0,
                                     1024)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Listing" + suffix).c_str(), Search, path, info.bytes, std::string(),
                                     info.bytes * 9 / 10, UINT64_MAX)
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    bool ownDir = false;
    if (const char* dir = std::getenv("WEEKEND_BENCH_DIR"); dir != nullptr && *dir != '\0') {
        benchDir = dir;
    } else {
        std::string pattern = (std::filesystem::temp_directory_path() / "weekend-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("game_bench: mkdtemp");
            return 1;
        }
        benchDir = pattern;
        ownDir = true;
    }
    std::vector<std::string> files;
    int status = 0;
    try {
        registerPageFileBenchmarks(files);
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& error) {
        std::cerr << "game_bench: " << error.what() << '\n';
        status = 1;
    }
    for (const std::string& file : files) {
        std::filesystem::remove(file);
    }
    if (ownDir) {
        std::filesystem::remove_all(benchDir);
    }
    benchmark::Shutdown();
    return status;
}
