// trellon export: frames as 8-bit palette PNG files, one per frame, named by
// the 1-based frame number.

#include "Commands.h"
#include "Video.h"
#include "VideoFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <png.h>
#include <vector>

namespace
{
// Writes one indexed picture. Only plain data lives in this frame: libpng
// reports errors by longjmp.
bool WritePng(std::FILE* file, const std::uint8_t* pixels, int width, int height,
              const std::uint8_t* palette, png_bytep* rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr)
    {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color colours[256];
    for (int i = 0; i < 256; ++i)
    {
        // The video keeps red, green, blue, spare.
        colours[i].red = palette[4 * i];
        colours[i].green = palette[4 * i + 1];
        colours[i].blue = palette[4 * i + 2];
    }
    png_set_PLTE(png, info, colours, 256);
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(pixels + static_cast<std::size_t>(y) *
                                                     static_cast<std::size_t>(width));
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
} // namespace

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
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
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
        const bool ok = WritePng(file, picture.data(), width, height, palette, rows.data());
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
