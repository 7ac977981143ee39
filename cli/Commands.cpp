#include "Commands.h"

#include "Video.h"
#include "VideoFile.h"

#include <charconv>
#include <cstdio>

bool ParseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

std::string OneLine(std::string text)
{
    // The reader names no reason for a short read, the only failure left
    // once the header has passed.
    if (!text.empty() && text.back() == '\n')
        text += "the file ends before the records its header announces";
    for (auto nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n'))
        text.replace(nl, 1, ": ");
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
    return 0;
}

int RunExtract(const std::vector<std::string>& args)
{
    int first = 0, last = 0;
    if (args.size() != 4)
        return UsageError("extract takes IN OUT FIRST LAST");
    if (!ParseInt(args[2], first) || !ParseInt(args[3], last))
        return UsageError("FIRST and LAST must be whole numbers");

    CVideo source;
    std::string error;
    if (!LoadVideoFile(source, args[0], error))
        return Fail(OneLine(error));
    CVideo fragment;
    // 1-based on the command line, as the user interface counts frames.
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
    if (!SaveVideoFile(fragment, args[1]))
        return Fail("Error writing to " + args[1]);
    std::printf("%s: %d frames, %d nodes, %d palettes\n", args[1].c_str(), fragment.GetFrameCount(),
                fragment.GetNodeCount(), fragment.GetPaletteCount());
    return 0;
}
