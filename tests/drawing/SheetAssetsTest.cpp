// The sheets trellon-sheets draws, as the recorder will load them.

#include "TestSheets.h"
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"

#include <gtest/gtest.h>

using namespace testsheets;

namespace
{
const std::string kSheets = TRELLON_SHEETS_DIR "/";
const std::string kAssets = TRELLON_ASSETS_DIR "/";

void ExpectFont(const std::string& name, std::int32_t height)
{
    const CBitmap8Group font(kSheets + name, false);
    // One cell per code 33..126: a glyph with a blank column would add one.
    ASSERT_EQ(font.GetCellCount(), 94) << name;
    EXPECT_EQ(font.GetHeight(), height) << name;
    for (std::uint32_t k = 0; k < 94; ++k)
    {
        const CellRect& cell = font.GetCell(k);
        EXPECT_EQ(cell.top, 0);
        EXPECT_EQ(cell.bottom, height);
        EXPECT_LE(cell.right - cell.left, 8) << name << " glyph of code " << k + 33;
    }
    // The full stop is one of the narrowest glyphs, the W one of the widest.
    EXPECT_LT(font.GetCell('.' - 33).right - font.GetCell('.' - 33).left,
              font.GetCell('W' - 33).right - font.GetCell('W' - 33).left);
}
} // namespace

TEST(SheetAssets, EachFontHasOneCellPerPrintableCode)
{
    ExpectFont("font1.bmp", 8);
    ExpectFont("font2.bmp", 7);
}

TEST(SheetAssets, UnitSheetHasEightPlayerColouredIcons)
{
    const CBitmap8Group units(kSheets + "units.bmp", true);
    ASSERT_EQ(units.GetCellCount(), 8);
    for (std::uint32_t i = 0; i < 8; ++i)
    {
        const CellRect& cell = units.GetCell(i);
        EXPECT_LE(cell.right - cell.left, 24) << "icon " << i;
        EXPECT_GE(cell.right - cell.left, 16) << "icon " << i;
        EXPECT_LE(cell.bottom - cell.top, 20) << "icon " << i;

        // Drawn for colour number 1, the icon shows blue and no red left.
        std::vector<std::uint8_t> pixels(24 * 20, 0);
        const FrameView frame = {pixels.data(), 24, 20};
        ASSERT_EQ(DrawSprite(frame, units, i, 0, 0, 1), cell.right - cell.left);
        int blue = 0, red = 0;
        for (std::uint8_t p : pixels)
        {
            blue += p >= 212 && p <= 215;
            red += p >= 208 && p <= 211;
        }
        EXPECT_GT(blue, 10) << "icon " << i;
        EXPECT_EQ(red, 0) << "icon " << i;
    }
}

TEST(SheetAssets, CommittedCopiesMatchWhatTheGeneratorDraws)
{
    for (const char* name : {"font1.bmp", "font2.bmp", "units.bmp"})
        EXPECT_EQ(ReadBytes(kSheets + name), ReadBytes(kAssets + name))
            << name << ": run trellon-sheets --out assets";
}
