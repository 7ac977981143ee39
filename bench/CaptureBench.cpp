// One capture tick against the running demo game: attach, detect, read the
// picture, palette and cursor from the other process, encode; and the same
// with the recording journal appending every frame (j:1), and with the
// statistics panel and unit markers drawn into every frame (BM_CaptureOverlay:
// the demo shows v2.0.2.0's in-game screen with players and units). These are
// ticks of the steady state, which look for the missing wrapper once every
// half second: the layout is told it met the game a whole early window ago.
// BM_CaptureTickEarly times the ticks of a game just met, each of which
// looks. Beside them the floor that no tick can go below (BM_CaptureFloor):
// one process_vm_readv of the picture straight into the frame and one
// AddFrame of it, against the same game at the same rate, so that the
// tick's fixed cost is the difference of two figures of one run. The
// benchmark starts its own X server (Xvfb) and the demo game at each size;
// TRELLON_BENCH_GAME names another command that starts the demo, to which
// --size and --fps are added, such as the Windows demo under Wine:
//
//   build/release/bin/capture_bench
//   TRELLON_BENCH_GAME="/usr/lib/wine/wine64 build/windows/bin/gamesim.exe"
//       build/release/bin/capture_bench --benchmark_filter=w:640

#include "capture/GameLayout.h"
#include "manager/VideoManager.h"
#include "process/Process.h"
#include "tools/gamesim/SimLaunch.h"
#include "video/Video.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// Frames a video holds before the benchmarks start a new one, outside the
// timing, so that long runs measure the same work throughout.
constexpr std::int32_t kFramesPerVideo = 3000;

constexpr const char* kScreen = "2048x1200x24";

// TRELLON_BENCH_GAME's words; none when it is not set.
std::vector<std::string> ChosenGame()
{
    std::vector<std::string> words;
    if (const char* chosen = std::getenv("TRELLON_BENCH_GAME"))
    {
        std::istringstream line(chosen);
        for (std::string word; line >> word;)
            words.push_back(word);
    }
    return words;
}

// One X server for a whole run, for a chosen game: under Wine the desktop
// stays on the X server it first met for as long as the wineserver runs,
// which outlives each game by seconds.
pid_t RunDisplay()
{
    static struct Display
    {
        pid_t server = StartVirtualDisplay(kScreen);
        ~Display() { StopVirtualDisplay(server); }
    } display;
    return display.server;
}

// A virtual display with the demo game on it at a picture size, for one
// benchmark; both end with it (the display of a chosen game with the run).
class DemoGame
{
public:
    DemoGame(int width, int height)
    {
        std::vector<std::string> command = ChosenGame();
        if (command.empty())
        {
            m_server = StartVirtualDisplay(kScreen);
            m_started = m_server > 0;
            command = {TRELLON_GAMESIM};
        }
        else
            m_started = RunDisplay() > 0;
        command.insert(
            command.end(),
            {"--size", std::to_string(width) + "x" + std::to_string(height), "--fps", "100"});
        if (m_started)
            m_game = Spawn(command);
    }
    ~DemoGame()
    {
        Stop(m_game);
        StopVirtualDisplay(m_server);
    }
    DemoGame(const DemoGame&) = delete;
    DemoGame& operator=(const DemoGame&) = delete;

    bool Started() const { return m_started; }
    pid_t Game() const { return m_game; }

private:
    bool m_started = false;
    pid_t m_server = 0;
    pid_t m_game = 0;
};

void BM_CaptureFloor(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    DemoGame demo(width, height);
    if (!demo.Started())
    {
        state.SkipWithError("Xvfb could not start");
        return;
    }
    CProcess process;
    CGameLayout layout;
    for (int i = 0; i < 500 && !process.Attach(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::size_t pictureBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> frame(pictureBytes);
    std::uint8_t palette[kPaletteBytes] = {};
    std::uint32_t picture = 0;
    try
    {
        layout.Detect(process);
        picture = process.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
        process.ReadBlock(layout.GetAddress(GA_PALETTE), palette, sizeof palette);
    }
    catch (const std::exception&)
    {
    }
    const auto video = [&]
    {
        auto made = std::make_unique<CVideo>();
        made->SetGeometry(width, width, height, 0, 0);
        return made;
    };
    std::unique_ptr<CVideo> recording = video();
    const pid_t pid = demo.Game(); // the demo game's window is its own
    iovec local{frame.data(), pictureBytes};
    iovec remote{reinterpret_cast<void*>(std::uintptr_t{picture}), pictureBytes};
    if (picture == 0 ||
        process_vm_readv(pid, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(pictureBytes))
        state.SkipWithError("the demo game's picture could not be read");
    for (auto _ : state)
    {
        if (recording->GetFrameCount() >= kFramesPerVideo)
        {
            state.PauseTiming();
            recording = video();
            state.ResumeTiming();
        }
        if (process_vm_readv(pid, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(pictureBytes))
        {
            state.SkipWithError("a read of the picture failed");
            break;
        }
        benchmark::DoNotOptimize(recording->AddFrame(0, palette, frame.data()));
    }
}

// Ticks of the manager against the demo game at the benchmark's picture
// size, with the journal and the overlay as asked: in the game's early
// window (`early`), or after it.
void CaptureTicks(benchmark::State& state, bool journal, bool overlay, bool early)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    DemoGame demo(width, height);
    if (!demo.Started())
    {
        state.SkipWithError("Xvfb could not start");
        return;
    }
    CVideoManager manager;
    const auto journals = std::filesystem::temp_directory_path() /
                          ("trellon-bench-journal-" + std::to_string(getpid()));
    if (journal)
        manager.SetJournalFolder(journals.string());
    manager.m_bShowStats = overlay ? 1 : 0;
    manager.m_bShowPlus = overlay ? 1 : 0;
    for (int i = 0; i < 500 && !manager.GetProcess().Attach(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The first Detect opens the game's early window.
    using Clock = CGameLayout::Clock;
    const auto met = early ? Clock::now() : Clock::now() - CGameLayout::kWrapperEarlyWindow;
    try
    {
        manager.GetLayout().Detect(manager.GetProcess(), met);
    }
    catch (const std::exception&)
    {
    }
    if (manager.CaptureFrame() != 1 || manager.GetWidth() != width)
        state.SkipWithError("the demo game was not captured");
    for (auto _ : state)
    {
        if (manager.GetVideo().GetFrameCount() >= kFramesPerVideo)
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
    if (early && Clock::now() >= met + CGameLayout::kWrapperEarlyWindow)
        state.SkipWithError("the timing outlasted the early window: give a shorter "
                            "--benchmark_min_time");
    state.counters["kind"] = manager.GetLayout().GetKind();
    if (journal && !manager.GetJournalProblem().empty())
        state.SkipWithError(manager.GetJournalProblem().c_str());
    manager.DiscardJournal();
    std::error_code ec;
    std::filesystem::remove_all(journals, ec);
}

void BM_CaptureTick(benchmark::State& state)
{
    CaptureTicks(state, state.range(2) != 0, false, false);
}

void BM_CaptureOverlay(benchmark::State& state)
{
    CaptureTicks(state, false, true, false);
}

void BM_CaptureTickEarly(benchmark::State& state)
{
    CaptureTicks(state, false, false, true);
}
} // namespace

BENCHMARK(BM_CaptureFloor)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_CaptureTick)
    ->ArgNames({"w", "h", "j"})
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_CaptureOverlay)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_CaptureTickEarly)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
