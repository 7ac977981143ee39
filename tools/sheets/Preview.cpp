// The preview goes through the same path as the overlay: the sheets are read
// back from the written files by CBitmap8Group and drawn with the drawing
// primitives, so what a person sees is what the recorder will draw.

#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"
#include "export/IndexedPng.h"
#include "tools/sheets/Sheets.h"

#include <cstdio>

namespace
{
constexpr std::uint8_t kGround = 119; // dark grass
constexpr std::uint8_t kPanel = 240;  // panel brown

// Every glyph of `font` from code 33 on, 47 to a line.
void DrawAllGlyphs(const FrameView& frame, const CBitmap8Group& font, std::int32_t x,
                   std::int32_t y, std::int32_t lineHeight, std::uint8_t colour)
{
    char line[48] = {};
    int length = 0;
    for (int code = 33; code <= 126; ++code)
    {
        line[length++] = static_cast<char>(code);
        if (length == 47 || code == 126)
        {
            line[length] = '\0';
            DrawString(frame, font, line, x, y, colour);
            y += lineHeight;
            length = 0;
        }
    }
}
} // namespace

bool WritePreview(const std::string& path, const std::string& dir, const SheetPalette& palette,
                  int scale, std::string& error)
{
    const CBitmap8Group font1(dir + "/font1.bmp", false);
    const CBitmap8Group font2(dir + "/font2.bmp", false);
    const CBitmap8Group units(dir + "/units.bmp", true);
    if (font1.GetCellCount() == 0 || font2.GetCellCount() == 0 || units.GetCellCount() == 0)
    {
        error = "the sheets in " + dir + " could not be loaded";
        return false;
    }

    constexpr std::int32_t kWidth = 380, kHeight = 152;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth * kHeight), kGround);
    const FrameView frame = {pixels.data(), kWidth, kHeight};
    FillFrameRect(frame, 2, 2, kWidth - 2, 74, kPanel);

    DrawString(frame, font1, "Peasant Grom lvl 3  Hit Points 160/240", 6, 5, 0);
    DrawString(frame, font1, "Mana 87/255  quick brown fox jumps, ok?", 6, 15, 255);
    DrawAllGlyphs(frame, font1, 6, 25, 10, 0);
    DrawString(frame, font2, "HP 1234/5678  99.5%  Gold: 10,000  Lvl 7", 6, 48, 0);
    DrawAllGlyphs(frame, font2, 6, 57, 8, 255);

    // The icon strip once for each player colour number, two numbers a row.
    std::int32_t y = 78;
    for (std::int32_t colour = 0; colour < 8; colour += 2)
    {
        std::int32_t x = 4;
        for (std::int32_t number = colour; number < colour + 2; ++number, x += 8)
            for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(units.GetCellCount()); ++i)
                x += DrawSprite(frame, units, i, x, y, number) + 2;
        y += 18;
    }

    SheetPicture scaled;
    scaled.width = kWidth * scale;
    scaled.height = kHeight * scale;
    scaled.pixels.resize(static_cast<std::size_t>(scaled.width * scaled.height));
    for (std::int32_t sy = 0; sy < scaled.height; ++sy)
        for (std::int32_t sx = 0; sx < scaled.width; ++sx)
            scaled.pixels[static_cast<std::size_t>(sy * scaled.width + sx)] =
                pixels[static_cast<std::size_t>((sy / scale) * kWidth + sx / scale)];

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        error = "cannot create " + path;
        return false;
    }
    const bool written =
        WriteIndexedPng(file, scaled.pixels.data(), scaled.width, scaled.height, palette.data(), 3);
    if (std::fclose(file) != 0 || !written)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
