// trellon record: records the running game without a window, a capture tick
// per period as the main dialog's timer does. A tick that comes due while the
// previous one still runs is dropped, as the dialog's guard drops it. Ctrl-C
// or SIGTERM ends the recording, and what was recorded is saved.

#include "Bitmap8Group.h"
#include "Commands.h"
#include "GameLayout.h"
#include "Video.h"
#include "VideoManager.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace
{
volatile std::sig_atomic_t g_bStop = 0;

extern "C" void OnStopSignal(int)
{
    g_bStop = 1;
}
} // namespace

int RunRecord(const std::vector<std::string>& args)
{
    std::string out;
    int fps = 30, seconds = 0, frames = 0;
    bool stats = false, plus = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool more = i + 1 < args.size();
        if (arg == "--stats" || arg == "--plus")
            (arg == "--stats" ? stats : plus) = true;
        else if ((arg == "--fps" || arg == "--seconds" || arg == "--frames") && more)
        {
            int& value = arg == "--fps" ? fps : arg == "--seconds" ? seconds : frames;
            if (!ParseInt(args[++i], value) || value < 1)
                return UsageError(arg + " needs a whole number of 1 or more");
        }
        else if (arg.rfind("--", 0) == 0)
            return UsageError("unknown option or missing value: " + arg);
        else if (out.empty())
            out = arg;
        else
            return UsageError("record takes one OUT file");
    }
    if (out.empty())
        return UsageError("record takes an OUT file");
    if (fps > 100)
        return UsageError("--fps is at most 100");
    if (seconds != 0 && frames != 0)
        return UsageError("give --seconds or --frames, not both");

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    CVideoManager manager;
    // The markers are drawn by the panel's unit walk, so "+" implies Stats.
    manager.m_bShowStats = stats || plus ? 1 : 0;
    manager.m_bShowPlus = plus ? 1 : 0;
    if (stats || plus)
    {
        const struct
        {
            const char* name;
            const CBitmap8Group& sheet;
        } sheets[] = {{"font1.bmp", manager.GetFont1()},
                      {"font2.bmp", manager.GetFont2()},
                      {"units.bmp", manager.GetUnits()}};
        for (const auto& sheet : sheets)
            if (sheet.sheet.GetCellCount() == 0)
                std::fprintf(stderr, "trellon: File %s have not been loaded\n", sheet.name);
    }
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(1000 / fps);
    const auto start = Clock::now();
    auto next = start;
    auto nextReport = start;
    long long dropped = 0, failed = 0;
    const char* status = kGameNotDetectedText;
    bool outOfMemory = false;
    while (!g_bStop)
    {
        try
        {
            status = manager.CaptureFrame() ? GameKindText(manager.GetLayout().GetKind())
                                            : kGameNotDetectedText;
        }
        catch (const std::runtime_error&)
        {
            ++failed; // a read the game refused: the tick ends, the next one tries again
        }
        const CVideo& video = manager.GetVideo();
        if (manager.RanOutOfMemory())
        {
            outOfMemory = true;
            break;
        }
        const auto now = Clock::now();
        if (now >= nextReport)
        {
            std::fprintf(stderr, "\rrecord: %d frames, %lld bytes, %lld ticks dropped, %s   ",
                         video.GetFrameCount(), static_cast<long long>(video.GetBodySize()),
                         dropped, status);
            nextReport = now + std::chrono::seconds(1);
        }
        if ((frames != 0 && video.GetFrameCount() >= frames) ||
            (seconds != 0 && now - start >= std::chrono::seconds(seconds)))
            break;
        next += period;
        while (next <= now)
        {
            next += period;
            ++dropped;
        }
        std::this_thread::sleep_until(next);
    }
    const CVideo& video = manager.GetVideo();
    std::fprintf(stderr,
                 "\rrecord: %d frames, %lld bytes, %lld ticks dropped, %lld failed reads, %s\n",
                 video.GetFrameCount(), static_cast<long long>(video.GetBodySize()), dropped,
                 failed, status);
    if (outOfMemory)
        std::fprintf(stderr,
                     "trellon: out of memory, recording stopped; saving what was recorded\n");

    if (manager.SaveVideo(out))
    {
        std::printf("%s: %d frames\n", out.c_str(), video.GetFrameCount());
        return outOfMemory ? 1 : 0;
    }
    // Nothing recorded is lost: try a second place before giving up.
    const std::string rescue =
        (std::filesystem::temp_directory_path() /
         ("trellon-record-" +
          std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + ".dk2"))
            .string();
    if (manager.SaveVideo(rescue))
        return Fail("Error writing to " + out + "; the recording was saved to " + rescue +
                    " instead");
    return Fail("Error writing to " + out + " and to " + rescue);
}
