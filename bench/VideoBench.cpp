// Benchmarks of the video store on the benchmark scene (see corpus/RtsScene.h)
// and on pictures where nearly everything changes (noise, the map or a
// painting scrolled by a pixel every frame, a fade): encoding, decoding,
// random access, saving and loading, and the cost of the slowest single
// AddFrame and the memory held per node while a video grows to ten million
// nodes.
//
//   build/release/bin/video_bench
//
// Every encode is checked once against the plain encoder (no previous-frame
// shortcut): the tables must be identical, or the benchmark fails.

#include "tools/digest/TablesDigest.h"
#include "tools/gamesim/RtsScene.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
enum Scene
{
    SC_RTS = 0,
    SC_NOISE = 1,
    SC_SCROLL_TILES = 2, // the map alone, full screen, one pixel to the left every frame
    SC_SCROLL_ART = 3,   // a picture that never repeats, the same
    SC_FADE = 4,         // the scene darkening a shade at a time, again and again
};

// The scene's palette is ramps of 16 shades from dark to light: step `step`
// of 32 takes each pixel that many 32nds of the way to its ramp's darkest.
void Darken(int step, std::vector<std::uint8_t>& picture)
{
    for (std::uint8_t& p : picture)
        p = static_cast<std::uint8_t>((p & 0xF0) | (p & 0x0F) * (32 - step) / 32);
}

struct Corpus
{
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> pictures;
    std::vector<std::uint32_t> cursors;
    std::vector<std::uint8_t> palette;
};

int FramesFor(int width)
{
    return width >= 1920 ? 150 : 600;
}

const Corpus& GetCorpus(Scene scene, int width, int height)
{
    static std::map<std::tuple<int, int, int>, std::unique_ptr<Corpus>> cache;
    auto& slot = cache[{scene, width, height}];
    if (!slot)
    {
        slot = std::make_unique<Corpus>();
        const CRtsScene rts(width, height, 1);
        slot->width = width;
        slot->height = height;
        slot->palette.assign(rts.Palette(), rts.Palette() + kPaletteBytes);
        const int frames = FramesFor(width);
        for (int k = 0; k < frames; ++k)
        {
            std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                              static_cast<std::size_t>(height));
            switch (scene)
            {
            case SC_RTS:
                rts.Render(k, picture.data());
                break;
            case SC_NOISE:
                RenderNoise(width, height, 1, k, picture.data());
                break;
            case SC_SCROLL_TILES:
                rts.RenderMapAt(k, 0, picture.data());
                break;
            case SC_SCROLL_ART:
                RenderArt(width, height, 1, k, picture.data());
                break;
            case SC_FADE:
                rts.Render(k, picture.data());
                Darken(k % 32, picture);
                break;
            }
            slot->pictures.push_back(std::move(picture));
            slot->cursors.push_back(rts.Cursor(k));
        }
    }
    return *slot;
}

// With `frameTimes`, each AddFrame's wall time in milliseconds is added to it.
void Encode(const Corpus& corpus, CVideo& video, std::vector<double>* frameTimes = nullptr)
{
    video.SetGeometry(corpus.width, corpus.width, corpus.height, 0, 0);
    for (std::size_t k = 0; k < corpus.pictures.size(); ++k)
    {
        const auto start = std::chrono::steady_clock::now();
        video.AddFrame(corpus.cursors[k], corpus.palette.data(), corpus.pictures[k].data());
        if (frameTimes != nullptr)
            frameTimes->push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
    }
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(),
                     values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

bool SameTables(const CVideo& a, const CVideo& b)
{
    if (a.GetFrameCount() != b.GetFrameCount() || a.GetNodeCount() != b.GetNodeCount() ||
        a.GetPaletteCount() != b.GetPaletteCount())
        return false;
    for (int i = 0; i < a.GetFrameCount(); ++i)
        if (a.GetFrameRecord(i)->root != b.GetFrameRecord(i)->root ||
            a.GetFrameRecord(i)->palette != b.GetFrameRecord(i)->palette)
            return false;
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(a.GetNodeCount()); ++i)
        if (!(*a.GetNode(i) == *b.GetNode(i)))
            return false;
    return true;
}

// A video of the corpus, encoded once and kept for the decoding benchmarks.
const CVideo& GetVideo(Scene scene, int width, int height)
{
    static std::map<std::tuple<int, int, int>, std::unique_ptr<CVideo>> cache;
    auto& slot = cache[{scene, width, height}];
    if (!slot)
    {
        slot = std::make_unique<CVideo>();
        Encode(GetCorpus(scene, width, height), *slot);
    }
    return *slot;
}

void BM_Encode(benchmark::State& state)
{
    const Scene scene = static_cast<Scene>(state.range(0));
    const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
    const bool shortcut = state.range(3) != 0;
    const Corpus& corpus = GetCorpus(scene, width, height);
    DictionaryStats stats;
    std::int64_t nodes = 0, body = 0;
    std::vector<double> frameTimes;
    for (auto _ : state)
    {
        CVideo video;
        video.SetReuseUnchanged(shortcut);
        Encode(corpus, video, &frameTimes);
        benchmark::DoNotOptimize(video.GetNodeCount());
        state.PauseTiming();
        stats = video.GetDictionaryStats();
        nodes = video.GetNodeCount();
        body = video.GetBodySize();
        state.ResumeTiming(); // the video's destruction is timed with the next run
    }
    const double frames = static_cast<double>(corpus.pictures.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(corpus.pictures.size()));
    state.counters["nodes/frame"] = static_cast<double>(nodes) / frames;
    state.counters["bytes/frame"] = static_cast<double>(body) / frames;
    state.counters["lookups/frame"] = static_cast<double>(stats.lookups) / frames;
    state.counters["probes/lookup"] =
        stats.lookups ? static_cast<double>(stats.probes) / static_cast<double>(stats.lookups) : 0;
    state.counters["compares/lookup"] =
        stats.lookups ? static_cast<double>(stats.compares) / static_cast<double>(stats.lookups)
                      : 0;
    state.counters["max_probe"] = stats.maxProbe;
    state.counters["recent/lookup"] =
        stats.lookups ? static_cast<double>(stats.recent) / static_cast<double>(stats.lookups) : 0;
    // One frame's AddFrame by the wall clock, over every frame of every run.
    state.counters["frame_median_ms"] = Median(frameTimes);
}

// Encodes the corpus with and without the previous-frame shortcut and fails
// unless both build the same tables; the digest compares them with other
// builds'.
void BM_ShortcutIdentity(benchmark::State& state)
{
    const Scene scene = static_cast<Scene>(state.range(0));
    const Corpus& corpus =
        GetCorpus(scene, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
    for (auto _ : state)
    {
        CVideo fast, plain;
        plain.SetReuseUnchanged(false);
        Encode(corpus, fast);
        Encode(corpus, plain);
        if (!SameTables(fast, plain))
        {
            state.SkipWithError("the shortcut encoder built different tables");
            return;
        }
        state.counters["identical_nodes"] = fast.GetNodeCount();
        state.counters["digest"] = TablesDigest(fast);
    }
}

void BM_Decode(benchmark::State& state)
{
    const Scene scene = static_cast<Scene>(state.range(0));
    const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
    const CVideo& video = GetVideo(scene, width, height);
    const Corpus& corpus = GetCorpus(scene, width, height);
    std::vector<std::uint8_t> target(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
    // Round trip: every decoded frame equals its source.
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        video.GetFrame(k, target.data(), false);
        if (target != corpus.pictures[static_cast<std::size_t>(k)])
        {
            state.SkipWithError("a decoded frame differs from its source");
            return;
        }
    }
    for (auto _ : state)
        for (int k = 0; k < video.GetFrameCount(); ++k)
        {
            video.GetFrame(k, target.data(), true);
            benchmark::ClobberMemory();
        }
    state.SetItemsProcessed(state.iterations() * video.GetFrameCount());
}

void BM_RandomAccess(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    const CVideo& video = GetVideo(SC_RTS, width, height);
    std::vector<std::uint8_t> target(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
    std::uint32_t s = 12345;
    for (auto _ : state)
    {
        s = s * 1664525u + 1013904223u;
        video.GetFrame(static_cast<int>(s % static_cast<std::uint32_t>(video.GetFrameCount())),
                       target.data(), true);
        benchmark::ClobberMemory();
    }
}

std::string BenchFile()
{
    return (std::filesystem::temp_directory_path() / "trellon-bench.dk2").string();
}

void BM_Save(benchmark::State& state)
{
    CVideo& video = const_cast<CVideo&>(GetVideo(SC_NOISE, 640, 480));
    const std::string path = BenchFile();
    for (auto _ : state)
        if (!SaveVideoFile(video, path))
        {
            state.SkipWithError("save failed");
            return;
        }
    state.SetBytesProcessed(state.iterations() * (video.GetBodySize() + 8));
}

void BM_Load(benchmark::State& state)
{
    CVideo& video = const_cast<CVideo&>(GetVideo(SC_NOISE, 640, 480));
    const std::string path = BenchFile();
    SaveVideoFile(video, path);
    for (auto _ : state)
    {
        CVideo loaded;
        std::string error;
        if (!LoadVideoFile(loaded, path, error))
        {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(loaded.GetNodeCount());
    }
    state.SetBytesProcessed(state.iterations() * (video.GetBodySize() + 8));
}

// Resident bytes of this process (/proc/self/statm), or -1 where there is no
// such file.
double ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    double size = 0, resident = 0;
    if (!(statm >> size >> resident))
        return -1;
    return resident * 4096.0;
}

// Adds frames whose upper half is noise (about 12,800 new nodes each) and
// lower half the scene, until the video holds ten million nodes, timing each
// AddFrame on its own. After every frame (untimed) it takes the memory the
// video holds per node, from one million nodes on: the resident memory the
// process gained since the video's first frame per node added since (the
// first frame sets up the encoder's buffers and scratch picture, a fixed
// 1.3 MB at this size), and the node table's and dictionary's own count. Every 25th frame is
// decoded and compared with its source.
void BM_GrowthTo10MNodes(benchmark::State& state)
{
    const int width = 640, height = 480;
    const CRtsScene rts(width, height, 3);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width * height));
    std::vector<std::uint8_t> decoded(picture.size());
    std::vector<double> times, residentPerNode, ownPerNode;
    for (auto _ : state)
    {
        CVideo video;
        video.SetGeometry(width, width, height, 0, 0);
        times.clear();
        residentPerNode.clear();
        ownPerNode.clear();
        double before = -1, firstNodes = 0;
        for (int k = 0; video.GetNodeCount() < 10'000'000; ++k)
        {
            state.PauseTiming();
            rts.Render(k, picture.data());
            RenderNoise(width, height / 2, 3, k, picture.data());
            state.ResumeTiming();
            const auto start = std::chrono::steady_clock::now();
            video.AddFrame(rts.Cursor(k), rts.Palette(), picture.data());
            const auto stop = std::chrono::steady_clock::now();
            times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
            state.PauseTiming();
            const double nodes = video.GetNodeCount();
            if (k == 0)
            {
                before = ResidentBytes();
                firstNodes = nodes;
            }
            if (nodes >= 1'000'000)
            {
                if (before >= 0)
                    residentPerNode.push_back((ResidentBytes() - before) / (nodes - firstNodes));
                ownPerNode.push_back(static_cast<double>(video.GetNodeStoreBytes()) / nodes);
            }
            if (k % 25 == 0)
            {
                video.GetFrame(k, decoded.data(), false);
                if (decoded != picture)
                {
                    state.SkipWithError("a decoded frame differs from its source");
                    return;
                }
            }
            state.ResumeTiming();
        }
        state.counters["frames"] = static_cast<double>(times.size());
        state.counters["grows"] = static_cast<double>(video.GetDictionaryStats().grows);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q)
    { return sorted[static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1))]; };
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = sorted.back();
    state.counters["max/p99"] = sorted.back() / at(0.99);
    state.counters["max_frame"] =
        static_cast<double>(std::max_element(times.begin(), times.end()) - times.begin());
    // Per node: the median over the frames (the steady state: the tables
    // spend most frames between growths or in a move) and the peak.
    const auto report = [&](const char* name, std::vector<double> values)
    {
        if (values.empty())
            return;
        std::sort(values.begin(), values.end());
        state.counters[std::string(name) + "_median"] = values[values.size() / 2];
        state.counters[std::string(name) + "_peak"] = values.back();
    };
    report("rss_B/node", residentPerNode);
    report("own_B/node", ownPerNode);
}
} // namespace

// Arguments: scene, width, height, previous-frame shortcut.
BENCHMARK(BM_Encode)
    ->ArgNames({"scene", "w", "h", "shortcut"})
    ->Args({SC_RTS, 640, 480, 1})
    ->Args({SC_RTS, 640, 480, 0})
    ->Args({SC_RTS, 1920, 1080, 1})
    ->Args({SC_RTS, 1920, 1080, 0})
    ->Args({SC_NOISE, 640, 480, 1})
    ->Args({SC_SCROLL_TILES, 640, 480, 1})
    ->Args({SC_SCROLL_TILES, 1920, 1080, 1})
    ->Args({SC_SCROLL_ART, 640, 480, 1})
    ->Args({SC_SCROLL_ART, 1920, 1080, 1})
    ->Args({SC_FADE, 640, 480, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShortcutIdentity)
    ->ArgNames({"scene", "w", "h"})
    ->Args({SC_RTS, 640, 480})
    ->Args({SC_RTS, 1920, 1080})
    ->Args({SC_NOISE, 640, 480})
    ->Args({SC_SCROLL_TILES, 640, 480})
    ->Args({SC_SCROLL_TILES, 1920, 1080})
    ->Args({SC_SCROLL_ART, 640, 480})
    ->Args({SC_SCROLL_ART, 1920, 1080})
    ->Args({SC_FADE, 640, 480})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Decode)
    ->ArgNames({"scene", "w", "h"})
    ->Args({SC_RTS, 640, 480})
    ->Args({SC_RTS, 1920, 1080})
    ->Args({SC_NOISE, 640, 480})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomAccess)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Save)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowthTo10MNodes)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
