// trellon-corpus: writes a ".dk2" video of the benchmark scene, for the
// benchmarks, the tests and the README's demo.

#include "tools/gamesim/RtsScene.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: trellon-corpus [--scene rts|noise] [--size WxH] [--frames N] [--fps F]\n"
    "                      [--seed S] OUT.dk2\n"
    "Writes N frames (default 600) of the benchmark scene at W x H (default\n"
    "640x480, at least 320x200) with time stamps 1/F s apart (default 30).\n";

bool ParseNumber(const char* text, int& value)
{
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

int Usage(const char* message)
{
    std::fprintf(stderr, "trellon-corpus: %s\n%s", message, kUsage);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    std::string scene = "rts", out;
    int width = 640, height = 480, frames = 600, fps = 30, seed = 1;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--scene" && hasValue)
            scene = argv[++i];
        else if (arg == "--size" && hasValue)
        {
            const std::string size = argv[++i];
            const auto x = size.find('x');
            if (x == std::string::npos || !ParseNumber(size.substr(0, x).c_str(), width) ||
                !ParseNumber(size.substr(x + 1).c_str(), height))
                return Usage("--size takes WxH, e.g. 640x480");
        }
        else if (arg == "--frames" && hasValue)
        {
            if (!ParseNumber(argv[++i], frames) || frames < 0)
                return Usage("--frames takes a number of frames");
        }
        else if (arg == "--fps" && hasValue)
        {
            if (!ParseNumber(argv[++i], fps) || fps <= 0 || fps > 1000)
                return Usage("--fps takes 1 to 1000");
        }
        else if (arg == "--seed" && hasValue)
        {
            if (!ParseNumber(argv[++i], seed))
                return Usage("--seed takes a number");
        }
        else if (arg.rfind("--", 0) == 0)
            return Usage(("unknown option or missing value: " + arg).c_str());
        else if (out.empty())
            out = arg;
        else
            return Usage("only one output file");
    }
    if (out.empty())
        return Usage("no output file");
    if (scene != "rts" && scene != "noise")
        return Usage("--scene is rts or noise");
    if (width < 320 || height < 200 || width > kMaxPictureSide || height > kMaxPictureSide)
        return Usage("the size must be between 320x200 and 8192x8192");

    const CRtsScene rts(width, height, static_cast<std::uint32_t>(seed));
    CVideo video;
    video.SetGeometry(width, width, height, 0, 0);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    for (int k = 0; k < frames; ++k)
    {
        if (scene == "rts")
            rts.Render(k, picture.data());
        else
            RenderNoise(width, height, static_cast<std::uint32_t>(seed), k, picture.data());
        if (video.AddFrame(rts.Cursor(k), rts.Palette(), picture.data()) != AF_ADDED)
        {
            std::fprintf(stderr, "trellon-corpus: out of memory at frame %d\n", k + 1);
            return 1;
        }
        video.SetFrameTime(k, static_cast<float>(k) / static_cast<float>(fps));
    }
    if (!SaveVideoFile(video, out))
    {
        std::fprintf(stderr, "trellon-corpus: Error writing to %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %d frames of %s at %dx%d, %d nodes, %lld bytes\n", out.c_str(), frames,
                scene.c_str(), width, height, video.GetNodeCount(),
                static_cast<long long>(video.GetBodySize() + 8));
    return 0;
}
