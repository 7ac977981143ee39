// One capture tick against the running demo game: attach, detect, read the
// picture, palette and cursor from the other process, encode; and the same
// with the recording journal appending every frame (j:1). The benchmark
// starts its own X server (Xvfb) and the demo game at each size.
//
//   build/release/bin/capture_bench

#include "GameLayout.h"
#include "Process.h"
#include "SimLaunch.h"
#include "Video.h"
#include "VideoManager.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
void BM_CaptureTick(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    const bool journal = state.range(2) != 0;
    pid_t server = StartVirtualDisplay("2048x1200x24"), game = 0;
    if (server <= 0)
    {
        state.SkipWithError("Xvfb could not start");
        return;
    }
    game = Spawn({TRELLON_GAMESIM, "--size", std::to_string(width) + "x" + std::to_string(height),
                  "--fps", "100"});
    CVideoManager manager;
    const auto journals = std::filesystem::temp_directory_path() /
                          ("trellon-bench-journal-" + std::to_string(getpid()));
    if (journal)
        manager.SetJournalFolder(journals.string());
    for (int i = 0; i < 500 && !manager.GetProcess().Attach(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (manager.CaptureFrame() != 1 || manager.GetWidth() != width)
        state.SkipWithError("the demo game was not captured");
    for (auto _ : state)
    {
        if (manager.GetVideo().GetFrameCount() >= 3000)
        {
            state.PauseTiming();
            manager.DiscardJournal();
            manager.NewVideo(); // keep the video's size bounded across long runs
            state.ResumeTiming();
        }
        try
        {
            benchmark::DoNotOptimize(manager.CaptureFrame());
        }
        catch (const std::exception&)
        {
            state.SkipWithError("a capture tick failed");
            break;
        }
    }
    state.counters["kind"] = manager.GetLayout().GetKind();
    if (journal && !manager.GetJournalProblem().empty())
        state.SkipWithError(manager.GetJournalProblem().c_str());
    manager.DiscardJournal();
    std::error_code ec;
    std::filesystem::remove_all(journals, ec);
    Stop(game);
    StopVirtualDisplay(server);
}
} // namespace

BENCHMARK(BM_CaptureTick)
    ->ArgNames({"w", "h", "j"})
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
