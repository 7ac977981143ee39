// The capture tick timed by hand, for builds without Google Benchmark (the
// Windows one, whose MinGW-w64 has none): attach to the game that runs,
// then time capture ticks back to back, each between two readings of the
// steady clock, and print the minimum, median and 99th percentile: first
// the ticks of the game's early window ("early", each looks for the missing
// wrapper), then, once the window is over, those of the steady state
// ("tick", which look once every half second). Beside them the floor,
// timed the same way: one read of the picture through the
// platform's backend and one AddFrame of it. The program is the same on
// both systems, so that the Windows backend (ReadProcessMemory, here under
// Wine) and the Linux one (process_vm_readv) are timed alike against one
// running game; it starts no game itself. As in capture_bench, the video
// starts afresh every 3000 frames, outside the timing. The game's sound is
// recorded beside the frames, as a recording does, unless --no-sound; with
// --every MS the ticks come MS apart, as a recording's do, so that the
// sound's thread runs between them.
//
//   gamesim --fps 100 &                      (or wine64 gamesim.exe --fps 100 &)
//   build/release/bin/capture_timing --ticks 5000

#include "capture/GameLayout.h"
#include "manager/VideoManager.h"
#include "process/Process.h"
#include "video/Video.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kFramesPerVideo = 3000;
constexpr int kMaxTicks = 1'000'000;
constexpr int kWarmUpTicks = 50;

// Prints the figures of one series of durations in milliseconds.
void Report(const char* what, std::vector<double>& ms)
{
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const std::size_t p99 = (n * 99 + 99) / 100 - 1; // the smallest value at or above 99 %
    double sum = 0;
    for (double value : ms)
        sum += value;
    std::printf("%-6s %7zu  min %.3f ms  median %.3f ms  p99 %.3f ms  mean %.3f ms\n", what, n,
                ms.front(), ms[n / 2], ms[p99], sum / static_cast<double>(n));
}

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

int Usage(const char* problem)
{
    std::fprintf(stderr,
                 "capture_timing: %s\n"
                 "Usage: capture_timing [--ticks N] [--wait SECONDS] [--every MS] [--no-sound]\n"
                 "Times N capture ticks (default 2000) against the game that runs, waiting\n"
                 "up to SECONDS (default 30) for it.\n",
                 problem);
    return 2;
}

int Run(int ticks, int waitSeconds, int everyMs, bool sound)
{
    CVideoManager manager;
    manager.m_bRecordSound = sound ? 1 : 0;
    const auto end = Clock::now() + std::chrono::seconds(waitSeconds);
    while (!manager.GetProcess().Attach())
    {
        if (Clock::now() >= end)
        {
            std::fprintf(stderr, "capture_timing: no game found in %d seconds\n", waitSeconds);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The first tick opens the game's early window.
    const auto earlyEnd = Clock::now() + CGameLayout::kWrapperEarlyWindow;
    for (int i = 0; i < kWarmUpTicks; ++i)
        if (manager.CaptureFrame() != 1)
        {
            std::fprintf(stderr, "capture_timing: the game was found but not captured\n");
            return 1;
        }
    const int width = manager.GetWidth(), height = manager.GetHeight();
    std::printf("%s, %d x %d\n", GameKindText(manager.GetLayout().GetKind()), width, height);

    // Up to `ticks` ticks, the early ones only while the window lasts.
    const auto timeTicks = [&](std::vector<double>& series, bool early)
    {
        series.reserve(static_cast<std::size_t>(ticks));
        manager.NewVideo();
        for (int i = 0; i < ticks && (!early || Clock::now() < earlyEnd); ++i)
        {
            if (manager.GetVideo().GetFrameCount() >= kFramesPerVideo)
                manager.NewVideo();
            if (everyMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            const auto start = Clock::now();
            const int captured = manager.CaptureFrame();
            const auto stop = Clock::now();
            if (captured != 1)
            {
                std::fprintf(stderr, "capture_timing: the game went away after %d ticks\n", i);
                return false;
            }
            series.push_back(Milliseconds(stop - start));
        }
        return true;
    };
    std::vector<double> early, tick;
    if (!timeTicks(early, true))
        return 1;
    // Any tick whose look falls in the window would be no steady one.
    std::this_thread::sleep_until(earlyEnd + std::chrono::milliseconds(50));
    if (!timeTicks(tick, false))
        return 1;
    const CVideoManager::SoundState soundState = manager.GetSoundState();
    const double soundSeconds = manager.GetVideo().GetSound().Seconds();
    const std::string soundProblem = manager.GetSoundProblem();
    manager.NewVideo();

    // The floor: the picture's address read once, then per tick one read of
    // the picture and one AddFrame of it, with the palette read once.
    CProcess& process = manager.GetProcess();
    const CGameLayout& layout = manager.GetLayout();
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> frame(bytes);
    std::uint8_t palette[kPaletteBytes] = {};
    const std::uint32_t picture = process.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
    if (!process.ReadBlock(layout.GetAddress(GA_PALETTE), palette, sizeof palette))
        throw std::runtime_error("the palette could not be read");
    const auto fresh = [&]
    {
        auto video = std::make_unique<CVideo>();
        video->SetGeometry(width, width, height, 0, 0);
        return video;
    };
    std::unique_ptr<CVideo> video = fresh();
    std::vector<double> floor;
    floor.reserve(static_cast<std::size_t>(ticks));
    for (int i = 0; i < ticks; ++i)
    {
        if (video->GetFrameCount() >= kFramesPerVideo)
            video = fresh();
        const auto start = Clock::now();
        const bool read = process.ReadBlock(picture, frame.data(), bytes);
        const int added = video->AddFrame(0, palette, frame.data());
        const auto stop = Clock::now();
        if (!read || added != AF_ADDED)
        {
            std::fprintf(stderr, "capture_timing: the floor's read or AddFrame failed\n");
            return 1;
        }
        floor.push_back(Milliseconds(stop - start));
    }
    if (!early.empty())
        Report("early", early);
    Report("tick", tick);
    Report("floor", floor);
    std::printf("sound: %s (%.2f s in the last video)%s%s\n",
                CVideoManager::SoundStatusText(soundState, sound), soundSeconds,
                soundProblem.empty() ? "" : ": ", soundProblem.c_str());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    int ticks = 2000, waitSeconds = 30, everyMs = 0;
    bool sound = true;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--no-sound")
            sound = false;
        else if ((arg == "--ticks" || arg == "--wait" || arg == "--every") && i + 1 < argc)
        {
            char* rest = nullptr;
            const long value = std::strtol(argv[++i], &rest, 10);
            if (*rest != '\0' || value < 1 || value > kMaxTicks)
                return Usage((arg + " takes a number from 1 to 1000000").c_str());
            (arg == "--ticks" ? ticks : arg == "--wait" ? waitSeconds : everyMs) =
                static_cast<int>(value);
        }
        else
            return Usage(("unknown argument " + arg).c_str());
    }
    try
    {
        return Run(ticks, waitSeconds, everyMs, sound);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "capture_timing: a read of the game failed (%s)\n", error.what());
        return 1;
    }
}
