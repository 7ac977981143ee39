// trellon export IN OUT.mp4|.webm|.mkv|.gif: the recording as a video file,
// with progress once a second; Ctrl-C stops and leaves nothing behind.

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

namespace
{
volatile std::sig_atomic_t g_bCancel = 0;

extern "C" void OnCancelSignal(int)
{
    g_bCancel = 1;
}
} // namespace

int RunVideoExport(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    ExportOptions options;
    bool force = false;
    constexpr int kMax = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool more = i + 1 < args.size();
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
        bool known = false;
        for (const auto& number : numbers)
            if (arg == number.name)
            {
                if (!more || !ParseInt(args[++i], *number.value, number.low, number.high))
                    return UsageError(arg + " takes a whole number from " +
                                      std::to_string(number.low) + " to " +
                                      std::to_string(number.high));
                known = true;
            }
        if (known)
            continue;
        if (arg == "--cursor")
            options.cursor = true;
        else if (arg == "--force")
            force = true;
        else if (arg.rfind("--", 0) == 0)
            return UsageError("unknown option '" + arg + "'");
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return UsageError("export takes IN OUT");
    const std::string &in = positional[0], &out = positional[1];
    ExportFormat format;
    if (!ExportFormatOf(out, format))
        return UsageError(out + ": the extension must be .mp4, .webm, .mkv or .gif");
    if (options.first > options.last)
        return Fail("--first (" + std::to_string(options.first) + ") is above --last (" +
                    std::to_string(options.last) + ")");
    std::error_code ec;
    if (!force && std::filesystem::exists(Utf8Path(out), ec))
        return Fail(out + " already exists; give --force to replace it");
    if (SameFile(in, out))
        return Fail(out + " is the input file");

    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, in, error))
        return Fail(OneLine(error));
    if (options.first > video.GetFrameCount())
        return Fail("no frames in " + std::to_string(options.first) + ".." +
                    std::to_string(options.last) + " (the video has " +
                    std::to_string(video.GetFrameCount()) + ")");

    std::signal(SIGINT, OnCancelSignal);
    std::signal(SIGTERM, OnCancelSignal);
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
    const bool ok = ExportVideo(video, out, format, options, progress, error);
    if (reported)
        std::fputc('\n', stderr);
    if (!ok)
        return Fail(g_bCancel ? "export stopped; nothing was written" : error);
    std::printf("%s: written\n", out.c_str());
    return 0;
}
