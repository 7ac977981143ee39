#include "tools/sheets/Sheets.h"

#include <cstdio>

namespace
{
void Put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
} // namespace

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
    Put32(out, fileSize);
    Put32(out, 0);
    Put32(out, pixelOffset);

    Put32(out, 40);
    Put32(out, width);
    Put32(out, height);
    Put16(out, 1); // planes
    Put16(out, 8); // bits per pixel
    Put32(out, 0); // BI_RGB
    Put32(out, rowBytes * height);
    Put32(out, 2835); // 72 dpi
    Put32(out, 2835);
    Put32(out, 256); // colours used
    Put32(out, 0);   // all important

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
