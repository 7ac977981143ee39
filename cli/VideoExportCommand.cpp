// trellon export IN OUT.mp4|.webm|.mkv|.gif|.flac|.wav: the recording as a
// video file with its sound, or its sound alone, with progress once a
// second; Ctrl-C stops and leaves nothing behind, and so does closing the
// console window on Windows.

#include "cli/Commands.h"
#include "export/VideoExport.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
volatile std::sig_atomic_t g_bCancel = 0;

#ifdef _WIN32
// Set once the export has returned and its unfinished file is gone.
HANDLE g_hExportDone = nullptr;

// Ctrl-C and Ctrl-Break stop the export. Closing the console window,
// logging off and shutting down end the process as soon as this returns,
// so it waits for the export to clean up, within the few seconds Windows
// gives a console program.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_bCancel = 1;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && g_hExportDone != nullptr)
        WaitForSingleObject(g_hExportDone, 4000);
    return TRUE;
}

void CatchCancel()
{
    g_hExportDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void CancelCaught()
{
    if (g_hExportDone != nullptr)
        SetEvent(g_hExportDone);
}
#else
extern "C" void OnCancelSignal(int)
{
    g_bCancel = 1;
}

void CatchCancel()
{
    std::signal(SIGINT, OnCancelSignal);
    std::signal(SIGTERM, OnCancelSignal);
}

void CancelCaught() {}
#endif

// What `trellon export IN OUT.mp4` was asked to do.
struct VideoExportRequest
{
    std::string in, out;
    ExportFormat format = ExportFormat::Mp4;
    ExportOptions options;
    bool force = false;
};

// Takes the numeric option at args[i] and its value into `options`; false
// when args[i] is no numeric option. `usage` becomes the exit status of a
// bad or missing value, or 0.
bool ParseNumberOption(const std::vector<std::string>& args, std::size_t& i, ExportOptions& options,
                       int& usage)
{
    constexpr int kMax = std::numeric_limits<int>::max();
    struct
    {
        const char* name;
        int* value;
        int low, high;
    } const numbers[] = {{"--first", &options.first, 1, kMax},
                         {"--last", &options.last, 1, kMax},
                         {"--scale", &options.scale, 1, kMaxExportScale},
                         {"--fps", &options.fps, 1, kMaxExportFps},
                         {"--crf", &options.quality, 0, 63},
                         {"--quality", &options.quality, 0, 63}};
    const std::string& arg = args[i];
    for (const auto& number : numbers)
        if (arg == number.name)
        {
            const bool valid =
                i + 1 < args.size() && ParseInt(args[++i], *number.value, number.low, number.high);
            usage = valid ? 0
                          : UsageError(arg + " takes a whole number from " +
                                       std::to_string(number.low) + " to " +
                                       std::to_string(number.high));
            return true;
        }
    return false;
}

// Reads the words after "export"; 0, or the exit status of a usage error.
int ParseVideoExportRequest(const std::vector<std::string>& args, VideoExportRequest& request)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        int usage = 0;
        if (ParseNumberOption(args, i, request.options, usage))
        {
            if (usage != 0)
                return usage;
        }
        else if (arg == "--cursor")
            request.options.cursor = true;
        else if (arg == "--no-sound")
            request.options.sound = false;
        else if (arg == "--force")
            request.force = true;
        else if (arg.rfind("--", 0) == 0)
            return UsageError("unknown option '" + arg + "'");
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return UsageError("export takes IN OUT");
    request.in = positional[0];
    request.out = positional[1];
    if (!ExportFormatOf(request.out, request.format))
        return UsageError(request.out +
                          ": the extension must be .mp4, .webm, .mkv, .gif, .flac or .wav");
    if (IsSoundOnly(request.format) && !request.options.sound)
        return UsageError("--no-sound leaves nothing to write into " + request.out);
    return 0;
}

// The refusals that need no decoding: an empty range, an existing output
// without --force, the input as the output. An empty text, or the refusal.
std::string CheckOutput(const VideoExportRequest& request)
{
    const ExportOptions& options = request.options;
    if (options.first > options.last)
        return "--first (" + std::to_string(options.first) + ") is above --last (" +
               std::to_string(options.last) + ")";
    std::error_code ec;
    if (!request.force && std::filesystem::exists(Utf8Path(request.out), ec))
        return request.out + " already exists; give --force to replace it";
    if (SameFile(request.in, request.out))
        return request.out + " is the input file";
    return {};
}

// Exports with a progress line once a second, stopped by Ctrl-C, SIGTERM
// or the console window closing; the exit status.
int ExportWithProgress(const CVideo& video, const VideoExportRequest& request)
{
    CatchCancel();
    using Clock = std::chrono::steady_clock;
    auto nextReport = Clock::now() + std::chrono::seconds(1);
    bool reported = false;
    const auto progress = [&](int done, int total)
    {
        const auto now = Clock::now();
        if (now >= nextReport || (reported && done == total))
        {
            std::fprintf(stderr, "\rexport: %d/%d frames", done, total);
            nextReport = now + std::chrono::seconds(1);
            reported = true;
        }
        return g_bCancel == 0;
    };
    std::string error;
    const bool ok =
        ExportVideo(video, request.out, request.format, request.options, progress, error);
    CancelCaught();
    if (reported)
        std::fputc('\n', stderr);
    if (!ok)
        return Fail(g_bCancel ? "export stopped; nothing was written" : error);
    std::printf("%s: written\n", request.out.c_str());
    return 0;
}
} // namespace

int RunVideoExport(const std::vector<std::string>& args)
{
    VideoExportRequest request;
    if (const int usage = ParseVideoExportRequest(args, request); usage != 0)
        return usage;
    if (const std::string refusal = CheckOutput(request); !refusal.empty())
        return Fail(refusal);

    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, request.in, error))
        return Fail(OneLine(error));
    const ExportOptions& options = request.options;
    if (options.first > video.GetFrameCount())
        return Fail("no frames in " + std::to_string(options.first) + ".." +
                    std::to_string(options.last) + " (the video has " +
                    std::to_string(video.GetFrameCount()) + ")");
    return ExportWithProgress(video, request);
}
