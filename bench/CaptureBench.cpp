// One capture tick against the running demo game: attach, detect, read the
// picture, palette and cursor from the other process, encode. The benchmark
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
    pid_t server = StartVirtualDisplay("2048x1200x24"), game = 0;
    if (server <= 0)
    {
        state.SkipWithError("Xvfb could not start");
        return;
    }
    game = Spawn({TRELLON_GAMESIM, "--size", std::to_string(width) + "x" + std::to_string(height),
                  "--fps", "100"});
    CVideoManager manager;
    for (int i = 0; i < 500 && !manager.GetProcess().Attach(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (manager.CaptureFrame() != 1 || manager.GetWidth() != width)
        state.SkipWithError("the demo game was not captured");
    for (auto _ : state)
    {
        if (manager.GetVideo().GetFrameCount() >= 3000)
        {
            state.PauseTiming();
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
    Stop(game);
    StopVirtualDisplay(server);
}
} // namespace

BENCHMARK(BM_CaptureTick)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
