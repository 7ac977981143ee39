// trellon export: frames as 8-bit palette PNG files, one per frame, named by
// the 1-based frame number.

#include "Commands.h"
#include "IndexedPng.h"
#include "Video.h"
#include "VideoFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

int RunExport(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    int first = 1, last = -1;
    bool cursor = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (args[i] == "--first" || args[i] == "--last")
        {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], args[i] == "--first" ? first : last))
                return UsageError(args[i] + " needs a whole number");
            ++i;
        }
        else if (args[i] == "--cursor")
            cursor = true;
        else if (args[i].rfind("--", 0) == 0)
            return UsageError("unknown option '" + args[i] + "'");
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2)
        return UsageError("export takes IN DIR");
    const std::string& in = positional[0];
    const std::filesystem::path dir = positional[1];

    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, in, error))
        return Fail(OneLine(error));
    const int frames = video.GetFrameCount();
    if (last < 0 || last > frames)
        last = frames;
    if (first < 1)
        first = 1;
    if (first > last)
        return Fail("no frames in " + std::to_string(first) + ".." + std::to_string(last) +
                    " (the video has " + std::to_string(frames) + ")");

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return Fail("cannot create " + dir.string() + ": " + ec.message());

    const int width = video.GetWidth(), height = video.GetHeight();
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    std::uint8_t palette[kPaletteBytes];
    int written = 0, skipped = 0;
    for (int n = first; n <= last; ++n)
    {
        if (!video.GetPalette(n - 1, palette))
        {
            ++skipped; // a damaged record: no colours to write it with
            continue;
        }
        std::fill(picture.begin(), picture.end(), 0);
        video.GetFrame(n - 1, picture.data(), cursor);
        char name[32];
        std::snprintf(name, sizeof(name), "%06d.png", n);
        const std::string path = (dir / name).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
            return Fail("Error writing to " + path + ": " + std::strerror(errno));
        const bool ok = WriteIndexedPng(file, picture.data(), width, height, palette, 4);
        if (std::fclose(file) != 0 || !ok)
            return Fail("Error writing to " + path);
        ++written;
        if (last - first >= 500 && (written % 500 == 0 || n == last))
            std::fprintf(stderr, "\rexport: %d/%d frames", written, last - first + 1);
    }
    if (last - first >= 500)
        std::fputc('\n', stderr);
    std::printf("%s: %d frames written", dir.string().c_str(), written);
    if (skipped > 0)
        std::printf(", %d without a palette skipped", skipped);
    std::printf("\n");
    return 0;
}
