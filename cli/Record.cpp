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
#include <optional>
#include <stdexcept>
#include <system_error>
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
    // Into the journal folder, the one place outside its own folder that the
    // program writes to by itself (and that an uninstaller leaves); the
    // system's temporary folder only when there is none.
    std::filesystem::path folder = Utf8Path(CVideoManager::DefaultJournalFolder());
    std::error_code ec;
    if (folder.empty() || (!std::filesystem::create_directories(folder, ec) && ec))
        folder = std::filesystem::temp_directory_path();
    const std::string rescue = Utf8Text(
        folder /
        ("trellon-record-" +
         std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + ".dk2"));
    if (manager.SaveVideo(rescue))
        return Fail("Error writing to " + path + ": " + reason + "; the recording was saved to " +
                    rescue + " instead");
    return Fail("Error writing to " + path + ": " + reason + ", and to " + rescue);
}

void WarnAboutSheets(const CVideoManager& manager)
{
    for (const std::string& name : manager.GetMissingSheets())
        std::fprintf(stderr, "trellon: File %s have not been loaded\n", name.c_str());
}

// What `trellon record` was asked to do.
struct RecordOptions
{
    std::string out;
    int fps = 30, seconds = 0, frames = 0, wait = 0; // 0: no limit
    bool stats = false, plus = false;
    bool sound = true; // the game's sound too, where the system offers it
};

// Reads the words after "record"; 0, or the exit status of a usage error.
int ParseRecordOptions(const std::vector<std::string>& args, RecordOptions& options)
{
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool more = i + 1 < args.size();
        if (arg == "--stats" || arg == "--plus")
            (arg == "--stats" ? options.stats : options.plus) = true;
        else if (arg == "--no-sound")
            options.sound = false;
        else if ((arg == "--fps" || arg == "--seconds" || arg == "--frames" || arg == "--wait") &&
                 more)
        {
            int& value = arg == "--fps"       ? options.fps
                         : arg == "--seconds" ? options.seconds
                         : arg == "--wait"    ? options.wait
                                              : options.frames;
            // An hour-long limit is 3600; a week is still far below this.
            constexpr int kMaxLimit = 100'000'000;
            if (!ParseInt(args[++i], value, 1, arg == "--fps" ? 100 : kMaxLimit))
                return UsageError(arg + (arg == "--fps" ? " takes 1 to 100"
                                                        : " needs a whole number from 1 to " +
                                                              std::to_string(kMaxLimit)));
        }
        else if (arg.rfind("--", 0) == 0)
            return UsageError("unknown option or missing value: " + arg);
        else if (options.out.empty())
            options.out = arg;
        else
            return UsageError("record takes one OUT file");
    }
    if (options.out.empty())
        return UsageError("record takes an OUT file");
    if (options.seconds != 0 && options.frames != 0)
        return UsageError("give --seconds or --frames, not both");
    return 0;
}

// The recorder with its journal and overlays set up; null when the memory
// for it could not be had.
std::unique_ptr<CVideoManager> StartRecorder(const RecordOptions& options)
{
    std::unique_ptr<CVideoManager> manager;
    try
    {
        manager = std::make_unique<CVideoManager>();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    // Every frame also goes to a journal, so that a crash or kill -9 loses
    // at most the last second (trellon recover).
    manager->SetJournalFolder(CVideoManager::DefaultJournalFolder());
    // The markers are drawn by the panel's unit walk, so "+" implies Stats.
    manager->m_bShowStats = options.stats || options.plus ? 1 : 0;
    manager->m_bShowPlus = options.plus ? 1 : 0;
    manager->m_bRecordSound = options.sound ? 1 : 0;
    if (options.stats || options.plus)
        WarnAboutSheets(*manager);
    return manager;
}

using Clock = std::chrono::steady_clock;

// What the recording loop keeps from one tick to the next.
struct RecordLoop
{
    Clock::duration period{};
    Clock::time_point start, next, nextReport;
    long long dropped = 0, failed = 0;
    const char* status = kGameNotDetectedText;
    bool outOfMemory = false;
    bool waiting = true; // no frame recorded yet
    bool toldWaiting = false;
    bool toldJournal = false;
    bool toldSound = false;
    std::string problem;
    int part = 1;
    long long savedFrames = 0; // in the parts already saved
    bool paused = false;
    std::sig_atomic_t pausesHandled = 0;
    Clock::duration pausedFor{}; // not counted against --seconds
    Clock::time_point pausedAt{};
};

// Each SIGUSR1 pauses or resumes: the video stays open, the ticks stop, and
// the paused time is taken out of the time line.
void HandlePauseRequests(CVideoManager& manager, RecordLoop& loop)
{
    for (; loop.pausesHandled != g_nPauseRequests; ++loop.pausesHandled)
    {
        loop.paused = !loop.paused;
        if (loop.paused)
        {
            loop.pausedAt = Clock::now();
            manager.PauseRecording();
        }
        else
        {
            loop.pausedFor += Clock::now() - loop.pausedAt;
            manager.ResumeRecording(std::chrono::duration<double>(loop.period).count());
            loop.next = Clock::now();
        }
        std::fprintf(stderr, "\nrecord: %s\n",
                     loop.paused ? "paused (SIGUSR1 resumes)" : "resumed");
    }
}

// One capture tick, and what the user is told while the game is not found.
void CaptureTickOnce(CVideoManager& manager, RecordLoop& loop)
{
    try
    {
        const bool found = manager.CaptureFrame() != 0;
        loop.status = found ? GameKindText(manager.GetLayout().GetKind()) : kGameNotDetectedText;
        // Said once, and again when the reason changes.
        const std::string now = found ? "" : PlatformWindowProblem();
        if (!found && loop.waiting && (!loop.toldWaiting || loop.problem != now))
            std::fprintf(stderr, "record: waiting for the game (a window titled \"%s\")%s%s\n",
                         CProcess::kGameTitle, now.empty() ? "" : ": ", now.c_str());
        loop.toldWaiting = loop.toldWaiting || (!found && loop.waiting);
        loop.problem = now;
    }
    catch (const std::runtime_error&)
    {
        ++loop.failed; // a read the game refused: the tick ends, the next one tries again
    }
}

// Said once: the picture is recorded all the same.
void WarnOnceAboutSound(const CVideoManager& manager, RecordLoop& loop)
{
    if (loop.toldSound || manager.GetSoundState() != CVideoManager::SoundState::Unavailable)
        return;
    std::fprintf(stderr, "\nrecord: the recording has no sound: %s\n",
                 manager.GetSoundProblem().c_str());
    loop.toldSound = true;
}

void WarnOnceAboutJournal(const CVideoManager& manager, RecordLoop& loop)
{
    if (loop.toldJournal || manager.GetJournalProblem().empty())
        return;
    std::fprintf(stderr,
                 "\ntrellon: the recording is no longer protected against a "
                 "crash: %s\n",
                 manager.GetJournalProblem().c_str());
    loop.toldJournal = true;
}

// The game's picture changed size: the part so far is saved, and the
// recording goes on in a new video. 0, or the exit status of a failed save.
int SaveAndStartNextPart(CVideoManager& manager, RecordLoop& loop, const std::string& out)
{
    const CVideo& video = manager.GetVideo();
    std::fprintf(stderr,
                 "\nrecord: the game's picture changed from %d x %d to %d x %d; "
                 "going on in %s\n",
                 video.GetWidth(), video.GetHeight(), manager.GetGameWidth(),
                 manager.GetGameHeight(), PartPath(out, loop.part + 1).c_str());
    manager.StopRecording();
    const int saved = SaveRecording(manager, PartPath(out, loop.part));
    if (saved != 0)
        return saved;
    loop.savedFrames += video.GetFrameCount();
    manager.NewVideo();
    ++loop.part;
    return 0;
}

// Ticks until a signal, a limit or a lack of memory ends the recording.
// Nothing, when what was recorded is to be saved; an exit status when the
// command ends here (a failed save of a part, no frame within --wait).
std::optional<int> RecordUntilStopped(CVideoManager& manager, const RecordOptions& options,
                                      RecordLoop& loop)
{
    loop.period = std::chrono::milliseconds(1000 / options.fps);
    loop.start = loop.next = loop.nextReport = Clock::now();
    while (!g_bStop)
    {
        HandlePauseRequests(manager, loop);
        if (loop.paused)
        {
            std::this_thread::sleep_for(loop.period);
            continue;
        }
        CaptureTickOnce(manager, loop);
        if (manager.RanOutOfMemory())
        {
            loop.outOfMemory = true;
            break;
        }
        WarnOnceAboutJournal(manager, loop);
        WarnOnceAboutSound(manager, loop);
        if (manager.GameSizeChanged())
        {
            if (const int saved = SaveAndStartNextPart(manager, loop, options.out); saved != 0)
                return saved;
            continue; // the next tick records at the new size
        }
        const CVideo& video = manager.GetVideo();
        const long long recorded = loop.savedFrames + video.GetFrameCount();
        loop.waiting = loop.waiting && recorded == 0;
        const auto now = Clock::now();
        if (loop.waiting && options.wait != 0 &&
            now - loop.start >= std::chrono::seconds(options.wait))
        {
            std::fputc('\n', stderr); // ends the progress line
            return Fail("no frame recorded in " + std::to_string(options.wait) + " seconds" +
                        (loop.problem.empty() ? "; is the game running?" : ": " + loop.problem) +
                        "; nothing was written");
        }
        if (now >= loop.nextReport)
        {
            std::fprintf(stderr, "\rrecord: %lld frames, %lld bytes, %lld ticks dropped, %s, %s   ",
                         recorded, static_cast<long long>(video.GetBodySize()), loop.dropped,
                         CVideoManager::SoundStatusText(manager.GetSoundState(), options.sound),
                         loop.problem.empty() ? loop.status : loop.problem.c_str());
            loop.nextReport = now + std::chrono::seconds(1);
        }
        if ((options.frames != 0 && recorded >= options.frames) ||
            (options.seconds != 0 &&
             now - loop.start - loop.pausedFor >= std::chrono::seconds(options.seconds)))
            break;
        loop.next += loop.period;
        while (loop.next <= now)
        {
            loop.next += loop.period;
            ++loop.dropped;
        }
        std::this_thread::sleep_until(loop.next);
    }
    return std::nullopt;
}

// The last progress line, then the save of the last part; the exit status.
int FinishRecording(CVideoManager& manager, const RecordLoop& loop, const std::string& out)
{
    manager.StopRecording();
    const CVideo& video = manager.GetVideo();
    char sound[64] = "no sound";
    if (!video.GetSound().Empty())
        std::snprintf(sound, sizeof sound, "%.1f s of sound", video.GetSound().Seconds());
    std::fprintf(stderr,
                 "\rrecord: %lld frames, %lld bytes, %lld ticks dropped, %lld failed reads, %s, "
                 "%s\n",
                 loop.savedFrames + video.GetFrameCount(),
                 static_cast<long long>(video.GetBodySize()), loop.dropped, loop.failed, sound,
                 loop.status);
    if (loop.outOfMemory)
        std::fprintf(stderr,
                     "trellon: out of memory, recording stopped; saving what was recorded\n");

    // A later part that got no frame (the game went away after its size
    // changed) leaves no empty file.
    const int saved = loop.part > 1 && video.GetFrameCount() == 0
                          ? 0
                          : SaveRecording(manager, PartPath(out, loop.part));
    return saved != 0 ? saved : loop.outOfMemory ? 1 : 0;
}
} // namespace

int RunRecord(const std::vector<std::string>& args)
{
    RecordOptions options;
    if (const int usage = ParseRecordOptions(args, options); usage != 0)
        return usage;

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    InstallPauseSignal(OnPauseSignal);

    const std::unique_ptr<CVideoManager> manager = StartRecorder(options);
    if (manager == nullptr)
        return Fail("out of memory: the recorder could not start");
    RecordLoop loop;
    if (const std::optional<int> ended = RecordUntilStopped(*manager, options, loop))
        return *ended;
    return FinishRecording(*manager, loop, options.out);
}
