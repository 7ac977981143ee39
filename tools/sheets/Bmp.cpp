#include "base/ByteOrder.h"
#include "tools/sheets/Sheets.h"

#include <cstdio>

// The plainest BMP there is: BITMAPFILEHEADER, BITMAPINFOHEADER, 256 colours
// (blue, green, red, 0), rows bottom-up and padded to 4 bytes.
bool WriteBmp(const std::string& path, const SheetPicture& picture, const SheetPalette& palette)
{
    const std::uint32_t width = static_cast<std::uint32_t>(picture.width);
    const std::uint32_t height = static_cast<std::uint32_t>(picture.height);
    const std::uint32_t rowBytes = (width + 3) & ~3u;
    const std::uint32_t pixelOffset = 14 + 40 + 256 * 4;
    const std::uint32_t fileSize = pixelOffset + rowBytes * height;

    std::vector<std::uint8_t> out;
    out.reserve(fileSize);
    out.push_back('B');
    out.push_back('M');
    AppendLe32(out, fileSize);
    AppendLe32(out, 0);
    AppendLe32(out, pixelOffset);

    AppendLe32(out, 40);
    AppendLe32(out, width);
    AppendLe32(out, height);
    AppendLe16(out, 1); // planes
    AppendLe16(out, 8); // bits per pixel
    AppendLe32(out, 0); // BI_RGB
    AppendLe32(out, rowBytes * height);
    AppendLe32(out, 2835); // 72 dpi
    AppendLe32(out, 2835);
    AppendLe32(out, 256); // colours used
    AppendLe32(out, 0);   // all important

    for (std::size_t i = 0; i < 256; ++i)
    {
        out.push_back(palette[3 * i + 2]);
        out.push_back(palette[3 * i + 1]);
        out.push_back(palette[3 * i]);
        out.push_back(0);
    }
    for (std::uint32_t i = 0; i < height; ++i)
    {
        const std::uint8_t* row = picture.pixels.data() + (height - 1 - i) * width;
        out.insert(out.end(), row, row + width);
        out.insert(out.end(), rowBytes - width, 0);
    }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && written;
}
