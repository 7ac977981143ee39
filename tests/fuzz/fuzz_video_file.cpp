// Loads any bytes as a ".dk2" file and decodes every frame it claims, with
// and without the cursor marker, and its statistics.
#include "video/Video.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr)
        return 0;
    CVideo video;
    std::string error;
    video.ReadBody(&error, file);
    std::fclose(file);

    const int width = video.GetWidth(), height = video.GetHeight();
    if (IsValidPictureSize(width, height) && static_cast<std::int64_t>(width) * height <= (1 << 22))
    {
        std::vector<std::uint8_t> target(static_cast<std::size_t>(width) *
                                         static_cast<std::size_t>(height));
        std::uint8_t palette[kPaletteBytes];
        const int frames = video.GetFrameCount() < 64 ? video.GetFrameCount() : 64;
        for (int i = -1; i <= frames; ++i)
        {
            video.GetFrame(i, target.data(), (i & 1) != 0);
            video.GetPalette(i, palette);
        }
        if (frames > 0 && frames <= 16)
        {
            CVideo part;
            video.ExtractTo(0, frames - 1, part);
        }
    }
    VideoStats stats;
    video.GetStats(stats);
    return 0;
}
