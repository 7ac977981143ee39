#include "cli/Commands.h"

#include "manager/VideoManager.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>

bool ParseInt(const std::string& text, int& value, int low, int high)
{
    const char* end = text.data() + text.size();
    int parsed = 0;
    const auto result = std::from_chars(text.data(), end, parsed);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || parsed < low ||
        parsed > high)
        return false;
    value = parsed;
    return true;
}

std::string OneLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    for (auto nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n'))
        text.replace(nl, 1, ": ");
    return text;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(Utf8Path(a), Utf8Path(b), ec);
}

// The "Sound:" line of info: what the recording's sound is, or why it has
// none that can be used.
std::string SoundText(const CVideo& video)
{
    const CSoundTrack& sound = video.GetSound();
    if (!video.GetSoundProblem().empty())
        return "left out: " + video.GetSoundProblem();
    if (sound.Empty())
        return "none";
    char text[160];
    std::snprintf(text, sizeof text,
                  "%.3f s, %u Hz, %u channel%s, FLAC, %llu bytes, from %.3f s after frame 1",
                  sound.Seconds(), sound.Rate(), sound.Channels(), sound.Channels() == 1 ? "" : "s",
                  static_cast<unsigned long long>(SoundSectionBytes(sound)),
                  static_cast<double>(sound.StartMicroseconds()) / 1e6);
    return text;
}

int RunInfo(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return UsageError("info takes one FILE");
    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, args[0], error))
        return Fail(OneLine(error));

    VideoStats stats;
    video.GetStats(stats);
    const int frames = video.GetFrameCount();
    std::printf("File:            %s\n", args[0].c_str());
    std::printf("Picture:         %d x %d\n", video.GetWidth(), video.GetHeight());
    std::printf("Frames:          %d\n", frames);
    std::printf("Nodes:           %d\n", video.GetNodeCount());
    std::printf("Palettes:        %d\n", video.GetPaletteCount());
    std::printf("Tree size:       %d\n", video.GetTreeSize());
    std::printf("Body size:       %lld bytes\n", static_cast<long long>(video.GetBodySize()));
    std::printf("Appendable:      %s\n", video.IsAppendable() ? "yes" : "no");
    std::printf("Saved:           %s\n", video.IsSaved() ? "yes" : "no");
    std::printf("Duration:        %.3f s\n",
                frames > 0 ? static_cast<double>(video.GetFrameTime(frames - 1)) : 0.0);
    std::printf("MedianFPS: %.3f\nAvg Bytes/Frame: %.2f\n", stats.medianFps,
                stats.avgBytesPerFrame);
    std::printf("Sound:           %s\n", SoundText(video).c_str());
    return 0;
}

int RunExtract(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    bool force = false;
    for (const std::string& arg : args)
        if (arg == "--force")
            force = true;
        else if (arg.rfind("--", 0) == 0)
            return UsageError("unknown option '" + arg + "'");
        else
            positional.push_back(arg);
    if (positional.size() != 4)
        return UsageError("extract takes IN OUT FIRST LAST");
    const std::string &in = positional[0], &out = positional[1];
    // Frame numbers count from 1, as the user interface shows them.
    int first = 0, last = 0;
    if (!ParseInt(positional[2], first, 1, std::numeric_limits<int>::max()) ||
        !ParseInt(positional[3], last, 1, std::numeric_limits<int>::max()))
        return UsageError("FIRST and LAST must be frame numbers from 1 to " +
                          std::to_string(std::numeric_limits<int>::max()));
    if (first > last)
        return Fail("FIRST (" + std::to_string(first) + ") is above LAST (" + std::to_string(last) +
                    ")");
    if (SameFile(in, out))
        return Fail(out + " is the input file; write the fragment to another file");
    std::error_code ec;
    if (!force && std::filesystem::exists(Utf8Path(out), ec))
        return Fail(out + " already exists; give --force to replace it");

    CVideo source;
    std::string error;
    if (!LoadVideoFile(source, in, error))
        return Fail(OneLine(error));
    const int frames = source.GetFrameCount();
    if (first > frames)
        return Fail("no frames in " + std::to_string(first) + ".." + std::to_string(last) +
                    " (the video has " + std::to_string(frames) + ")");
    last = std::min(last, frames);
    CVideo fragment;
    const auto progress = [](int done, int total)
    {
        if (total >= 2000 && (done % 1000 == 0 || done == total))
            std::fprintf(stderr, "\rextract: %d/%d frames", done, total);
        if (total >= 2000 && done == total)
            std::fputc('\n', stderr);
        return true;
    };
    if (!source.ExtractTo(first - 1, last - 1, fragment, progress))
        return Fail("not enough memory for the fragment");
    if (!CutFragmentSound(source, first - 1, last - 1, fragment, error))
        return Fail("the fragment's sound could not be cut: " + error);
    std::string reason;
    if (!SaveVideoFile(fragment, out, &reason))
        return Fail("Error writing to " + out + ": " + reason);
    std::printf("%s: %d frames, %d nodes, %d palettes\n", out.c_str(), fragment.GetFrameCount(),
                fragment.GetNodeCount(), fragment.GetPaletteCount());
    // A frame without colours (a damaged record) can't be copied.
    const int dropped = last - first + 1 - fragment.GetFrameCount();
    if (dropped > 0)
        std::fprintf(stderr, "trellon: %d of the %d frames were left out: %s\n", dropped,
                     last - first + 1, "their palette is missing or all zero");
    return 0;
}
