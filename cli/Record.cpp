// trellon record: records the running game without a window, a capture tick
// per period as the main dialog's timer does. A tick that comes due while the
// previous one still runs is dropped, as the dialog's guard drops it. Ctrl-C
// or SIGTERM ends the recording, and what was recorded is saved. Meanwhile
// every frame is journalled, and the journal goes once the file is saved.
// SIGUSR1 (where the system has it) pauses and resumes.
//
// A video keeps one picture size. When the game comes back at another size
// (restarted, or switched resolution), the part recorded so far is saved
// under OUT and the recording goes on into OUT-2, OUT-3 ... (before the
// extension), each file at the size of its own frames.

#include "capture/GameLayout.h"
#include "cli/Commands.h"
#include "drawing/Bitmap8Group.h"
#include "manager/VideoManager.h"
#include "process/Platform.h"
#include "process/Process.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

namespace
{
volatile std::sig_atomic_t g_bStop = 0;
volatile std::sig_atomic_t g_nPauseRequests = 0; // SIGUSR1s not yet handled

extern "C" void OnStopSignal(int)
{
    g_bStop = 1;
}

extern "C" void OnPauseSignal(int)
{
    g_nPauseRequests = g_nPauseRequests + 1;
}

// The file of part `part` (1 for the first): OUT itself, then OUT-2 ...
std::string PartPath(const std::string& out, int part)
{
    if (part <= 1)
        return out;
    const std::filesystem::path path = Utf8Path(out);
    return Utf8Text(
        path.parent_path() /
        Utf8Path(Utf8Text(path.stem()) + "-" + std::to_string(part) + Utf8Text(path.extension())));
}

// Saves the current video to `path`, or, when that fails, to a file of its
// own in the temporary folder, so that nothing recorded is lost. Returns the
// exit status and prints what happened.
int SaveRecording(CVideoManager& manager, const std::string& path)
{
    std::string reason;
    if (manager.SaveVideo(path, &reason))
    {
        std::printf("%s: %d frames\n", path.c_str(), manager.GetVideo().GetFrameCount());
        return 0;
    }
    const std::string journal = manager.GetJournalPath();
    if (!journal.empty())
    {
        manager.CloseJournal();
        std::fprintf(stderr,
                     "trellon: the recording stays in the journal %s; "
                     "trellon recover turns it into a file\n",
                     journal.c_str());
    }
    const std::string rescue = Utf8Text(
        std::filesystem::temp_directory_path() /
        ("trellon-record-" +
         std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + ".dk2"));
    if (manager.SaveVideo(rescue))
        return Fail("Error writing to " + path + ": " + reason + "; the recording was saved to " +
                    rescue + " instead");
    return Fail("Error writing to " + path + ": " + reason + ", and to " + rescue);
}

void WarnAboutSheets(const CVideoManager& manager)
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
} // namespace

int RunRecord(const std::vector<std::string>& args)
{
    std::string out;
    int fps = 30, seconds = 0, frames = 0, wait = 0;
    bool stats = false, plus = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool more = i + 1 < args.size();
        if (arg == "--stats" || arg == "--plus")
            (arg == "--stats" ? stats : plus) = true;
        else if ((arg == "--fps" || arg == "--seconds" || arg == "--frames" || arg == "--wait") &&
                 more)
        {
            int& value = arg == "--fps"       ? fps
                         : arg == "--seconds" ? seconds
                         : arg == "--wait"    ? wait
                                              : frames;
            // An hour-long limit is 3600; a week is still far below this.
            constexpr int kMaxLimit = 100'000'000;
            if (!ParseInt(args[++i], value, 1, arg == "--fps" ? 100 : kMaxLimit))
                return UsageError(arg + (arg == "--fps" ? " takes 1 to 100"
                                                        : " needs a whole number from 1 to " +
                                                              std::to_string(kMaxLimit)));
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
    if (seconds != 0 && frames != 0)
        return UsageError("give --seconds or --frames, not both");

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    InstallPauseSignal(OnPauseSignal);

    std::unique_ptr<CVideoManager> owner;
    try
    {
        owner = std::make_unique<CVideoManager>();
    }
    catch (const std::bad_alloc&)
    {
        return Fail("out of memory: the recorder could not start");
    }
    CVideoManager& manager = *owner;
    // Every frame also goes to a journal, so that a crash or kill -9 loses
    // at most the last second (trellon recover).
    manager.SetJournalFolder(CVideoManager::DefaultJournalFolder());
    bool toldJournal = false;
    // The markers are drawn by the panel's unit walk, so "+" implies Stats.
    manager.m_bShowStats = stats || plus ? 1 : 0;
    manager.m_bShowPlus = plus ? 1 : 0;
    if (stats || plus)
        WarnAboutSheets(manager);

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(1000 / fps);
    const auto start = Clock::now();
    auto next = start;
    auto nextReport = start;
    long long dropped = 0, failed = 0;
    const char* status = kGameNotDetectedText;
    bool outOfMemory = false;
    bool waiting = true; // no frame recorded yet
    bool toldWaiting = false;
    std::string problem;
    int part = 1;
    long long savedFrames = 0; // in the parts already saved
    bool paused = false;
    std::sig_atomic_t pausesHandled = 0;
    Clock::duration pausedFor{}; // not counted against --seconds
    Clock::time_point pausedAt{};
    while (!g_bStop)
    {
        // Each SIGUSR1 pauses or resumes: the video stays open, the ticks
        // stop, and the paused time is taken out of the time line.
        for (; pausesHandled != g_nPauseRequests; ++pausesHandled)
        {
            paused = !paused;
            if (paused)
                pausedAt = Clock::now();
            else
            {
                pausedFor += Clock::now() - pausedAt;
                manager.GetVideo().ResumeTimeLine(std::chrono::duration<double>(period).count());
                next = Clock::now();
            }
            std::fprintf(stderr, "\nrecord: %s\n", paused ? "paused (SIGUSR1 resumes)" : "resumed");
        }
        if (paused)
        {
            std::this_thread::sleep_for(period);
            continue;
        }
        try
        {
            const bool found = manager.CaptureFrame() != 0;
            status = found ? GameKindText(manager.GetLayout().GetKind()) : kGameNotDetectedText;
            // Said once, and again when the reason changes.
            const std::string now = found ? "" : PlatformWindowProblem();
            if (!found && waiting && (!toldWaiting || problem != now))
                std::fprintf(stderr, "record: waiting for the game (a window titled \"%s\")%s%s\n",
                             CProcess::kGameTitle, now.empty() ? "" : ": ", now.c_str());
            toldWaiting = toldWaiting || (!found && waiting);
            problem = now;
        }
        catch (const std::runtime_error&)
        {
            ++failed; // a read the game refused: the tick ends, the next one tries again
        }
        if (manager.RanOutOfMemory())
        {
            outOfMemory = true;
            break;
        }
        if (!toldJournal && !manager.GetJournalProblem().empty())
        {
            std::fprintf(stderr,
                         "\ntrellon: the recording is no longer protected against a "
                         "crash: %s\n",
                         manager.GetJournalProblem().c_str());
            toldJournal = true;
        }
        if (manager.GameSizeChanged())
        {
            const CVideo& video = manager.GetVideo();
            std::fprintf(stderr,
                         "\nrecord: the game's picture changed from %d x %d to %d x %d; "
                         "going on in %s\n",
                         video.GetWidth(), video.GetHeight(), manager.GetGameWidth(),
                         manager.GetGameHeight(), PartPath(out, part + 1).c_str());
            const int saved = SaveRecording(manager, PartPath(out, part));
            if (saved != 0)
                return saved;
            savedFrames += video.GetFrameCount();
            manager.NewVideo();
            ++part;
            continue; // the next tick records at the new size
        }
        const CVideo& video = manager.GetVideo();
        const long long recorded = savedFrames + video.GetFrameCount();
        waiting = waiting && recorded == 0;
        const auto now = Clock::now();
        if (waiting && wait != 0 && now - start >= std::chrono::seconds(wait))
        {
            std::fputc('\n', stderr); // ends the progress line
            return Fail("no frame recorded in " + std::to_string(wait) + " seconds" +
                        (problem.empty() ? "; is the game running?" : ": " + problem) +
                        "; nothing was written");
        }
        if (now >= nextReport)
        {
            std::fprintf(stderr, "\rrecord: %lld frames, %lld bytes, %lld ticks dropped, %s   ",
                         recorded, static_cast<long long>(video.GetBodySize()), dropped,
                         problem.empty() ? status : problem.c_str());
            nextReport = now + std::chrono::seconds(1);
        }
        if ((frames != 0 && recorded >= frames) ||
            (seconds != 0 && now - start - pausedFor >= std::chrono::seconds(seconds)))
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
                 "\rrecord: %lld frames, %lld bytes, %lld ticks dropped, %lld failed reads, %s\n",
                 savedFrames + video.GetFrameCount(), static_cast<long long>(video.GetBodySize()),
                 dropped, failed, status);
    if (outOfMemory)
        std::fprintf(stderr,
                     "trellon: out of memory, recording stopped; saving what was recorded\n");

    // A later part that got no frame (the game went away after its size
    // changed) leaves no empty file.
    const int saved =
        part > 1 && video.GetFrameCount() == 0 ? 0 : SaveRecording(manager, PartPath(out, part));
    return saved != 0 ? saved : outOfMemory ? 1 : 0;
}
