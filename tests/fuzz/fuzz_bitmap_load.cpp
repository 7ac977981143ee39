// Loads any bytes as a sheet, as a font and as an icon strip, and draws every
// cell (and the indices around them) into a small frame, partly off its edges.
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/fuzz_bitmap_load_" + std::to_string(getpid()) + ".bmp";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written)
        return 0;

    std::uint8_t pixels[40 * 30] = {};
    const FrameView frame = {pixels, 40, 30};
    for (const bool trimRows : {false, true})
    {
        CBitmap8Group sheet(path, trimRows);
        const int count = sheet.GetCellCount() < 32 ? sheet.GetCellCount() : 32;
        for (int i = -1; i <= count; ++i)
        {
            const auto index = static_cast<std::uint32_t>(i);
            DrawGlyph(frame, sheet, index, (i * 7) % 45, (i * 3) % 33,
                      static_cast<std::uint8_t>(i));
            DrawSprite(frame, sheet, index, (i * 11) % 45, (i * 5) % 33, i % 9);
        }
        DrawString(frame, sheet, "lvl 12 HP 160/240 \x81~", -3, 22, 255);
    }
    std::remove(path.c_str());
    return 0;
}
