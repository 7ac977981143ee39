#include "TestSheets.h"
#include "drawing/Bitmap8Group.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

using namespace testsheets;

void PrintTo(const CellRect& c, std::ostream* os)
{
    *os << "{" << c.left << ", " << c.top << ", " << c.right << ", " << c.bottom << "}";
}

namespace
{
const std::string kFixtures = TRELLON_TEST_DATA_DIR "/bmp/";

std::vector<CellRect> Cells(const CBitmap8Group& sheet)
{
    std::vector<CellRect> cells;
    for (int i = 0; i < sheet.GetCellCount(); ++i)
        cells.push_back(sheet.GetCell(static_cast<std::uint32_t>(i)));
    return cells;
}

// Checks every pixel the sheet read against the source picture ImageMagick
// converted: the index, looked up in the file's own colour table, must give
// the source colour.
void ExpectPixelsMatchSource(const CBitmap8Group& sheet, const std::string& name)
{
    const std::vector<std::uint8_t> bmp = ReadBytes(kFixtures + name + ".bmp");
    std::ifstream ppm(kFixtures + name + ".ppm", std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxValue = 0;
    ppm >> magic >> width >> height >> maxValue;
    ppm.get();
    ASSERT_EQ(sheet.GetWidth(), width);
    ASSERT_EQ(sheet.GetHeight(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            char rgb[3];
            ppm.read(rgb, 3);
            const std::size_t index = sheet.GetBits()[y * width + x];
            const std::size_t entry = 54 + 4 * index; // blue, green, red, 0
            ASSERT_EQ(bmp[entry + 2], static_cast<std::uint8_t>(rgb[0])) << x << ", " << y;
            ASSERT_EQ(bmp[entry + 1], static_cast<std::uint8_t>(rgb[1])) << x << ", " << y;
            ASSERT_EQ(bmp[entry + 0], static_cast<std::uint8_t>(rgb[2])) << x << ", " << y;
        }
}

void ExpectRefused(const std::vector<std::uint8_t>& bytes, const std::string& name)
{
    CBitmap8Group sheet(WriteTemp(name, MakeBmp({"#."})), false);
    ASSERT_EQ(sheet.GetCellCount(), 1);
    EXPECT_FALSE(sheet.Load(WriteTemp(name, bytes), false));
    EXPECT_EQ(sheet.GetCellCount(), 0);
    EXPECT_FALSE(sheet.Load(WriteTemp(name, bytes), true));
    EXPECT_EQ(sheet.GetCellCount(), 0);
}
} // namespace

// Differential: files written by ImageMagick (tests/data/bmp/make_fixtures.sh).

TEST(BitmapSheet, ReadsImageMagickStripWhoseRowsArePadded)
{
    CBitmap8Group font(kFixtures + "strip13x7.bmp", false);
    ExpectPixelsMatchSource(font, "strip13x7");
    // Column 0 is blank and makes no cell; the last glyph reaches the edge.
    EXPECT_EQ(Cells(font), (std::vector<CellRect>{{1, 0, 4, 7}, {5, 0, 7, 7}, {9, 0, 13, 7}}));

    CBitmap8Group icons(kFixtures + "strip13x7.bmp", true);
    EXPECT_EQ(Cells(icons), (std::vector<CellRect>{{1, 0, 4, 7}, {5, 2, 7, 5}, {9, 0, 13, 7}}));
}

TEST(BitmapSheet, ReadsImageMagickStripWithoutPadding)
{
    CBitmap8Group sheet(kFixtures + "strip16x6.bmp", true);
    ExpectPixelsMatchSource(sheet, "strip16x6");
    // The two pictures stacked in columns 12 to 15 make one cell.
    EXPECT_EQ(Cells(sheet), (std::vector<CellRect>{{2, 0, 6, 6}, {7, 0, 11, 6}, {12, 0, 16, 6}}));
}

TEST(BitmapSheet, RefusesRleCompressedFiles)
{
    ExpectRefused(ReadBytes(kFixtures + "rle8.bmp"), "rle8.bmp");
    BmpFields fields;
    fields.width = 4;
    fields.height = 1;
    fields.compression = 1;
    ExpectRefused(MakeBmp(fields, {1, 2, 3, 4}), "rle_forged.bmp");
}

TEST(BitmapSheet, RefusesOtherBitCounts)
{
    ExpectRefused(ReadBytes(kFixtures + "onebit.bmp"), "onebit.bmp");
    ExpectRefused(ReadBytes(kFixtures + "truecolour.bmp"), "truecolour.bmp");
}

TEST(BitmapSheet, RefusesTopDownFiles)
{
    BmpFields fields;
    fields.width = 3;
    fields.height = -2;
    ExpectRefused(MakeBmp(fields, {1, 0, 1, 1, 0, 1}), "topdown.bmp");
}

TEST(BitmapSheet, RefusesFilesThatAreNotBmp)
{
    BmpFields fields;
    fields.width = 2;
    fields.height = 1;
    fields.signature = false;
    ExpectRefused(MakeBmp(fields, {1, 1}), "not_bm.bmp");
    fields.signature = true;
    fields.infoSize = 12; // the old OS/2 header has another layout
    ExpectRefused(MakeBmp(fields, {1, 1}), "core_header.bmp");
}

TEST(BitmapSheet, RefusesPixelOffsetPastTheEnd)
{
    BmpFields fields;
    fields.width = 2;
    fields.height = 2;
    fields.pixelOffset = 0xFFFFFF00;
    ExpectRefused(MakeBmp(fields, {}), "offset_past_end.bmp");
    fields.pixelOffset = 20; // inside the headers
    ExpectRefused(MakeBmp(fields, {1, 1, 1, 1}), "offset_in_header.bmp");
}

TEST(BitmapSheet, RefusesSizesAboveTheLimitOrBeyondTheFile)
{
    BmpFields fields;
    fields.width = kMaxSheetSide + 1;
    fields.height = 1;
    ExpectRefused(MakeBmp(fields, {}), "too_wide.bmp");
    fields.width = INT32_MAX;
    fields.height = INT32_MAX;
    ExpectRefused(MakeBmp(fields, {}), "overflowing.bmp");
    // Within the limit, but the 64 MiB it claims are not in the file: refused
    // before anything is allocated.
    fields.width = kMaxSheetSide;
    fields.height = kMaxSheetSide;
    ExpectRefused(MakeBmp(fields, {}), "unbacked.bmp");
    fields.width = 0;
    fields.height = 5;
    ExpectRefused(MakeBmp(fields, {}), "zero_width.bmp");
}

TEST(BitmapSheet, RefusesMissingAndShortFiles)
{
    std::vector<std::uint8_t> bytes = MakeBmp({"#.#", "###"});
    ExpectRefused({bytes.begin(), bytes.begin() + 53}, "short_header.bmp");
    // The last row stops one pixel short.
    ExpectRefused({bytes.begin(), bytes.end() - 2}, "short_row.bmp");

    CBitmap8Group sheet(WriteTemp("short_ok.bmp", MakeBmp({"#"})), false);
    EXPECT_FALSE(sheet.Load("/nonexistent/units.bmp", true));
    EXPECT_EQ(sheet.GetCellCount(), 0);
    EXPECT_EQ(sheet.GetBits(), nullptr);
}

TEST(BitmapSheet, AcceptsAFileThatEndsRightAfterItsLastPixel)
{
    std::vector<std::uint8_t> bytes = MakeBmp({"##.", "#.#"});
    bytes.pop_back(); // the top row's padding byte
    CBitmap8Group sheet(WriteTemp("no_last_padding.bmp", bytes), false);
    EXPECT_EQ(Cells(sheet), (std::vector<CellRect>{{0, 0, 3, 2}}));
    EXPECT_EQ(sheet.GetBits()[2], 0);
    EXPECT_EQ(sheet.GetBits()[5], '#');
}

TEST(BitmapSheet, ReadsPixelsAtTheOffsetTheHeaderGives)
{
    BmpFields fields;
    fields.width = 2;
    fields.height = 2;
    fields.colours = 3;
    fields.infoSize = 108; // a later header that extends the 40-byte one
    fields.pixelOffset = 14 + 108 + 12 + 5;
    CBitmap8Group sheet(WriteTemp("offset.bmp", MakeBmp(fields, {7, 8, 9, 10})), false);
    ASSERT_EQ(sheet.GetCellCount(), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(sheet.GetBits(), sheet.GetBits() + 4),
              (std::vector<std::uint8_t>{7, 8, 9, 10}));
}

TEST(BitmapSheet, AllZeroSheetHasNoCells)
{
    CBitmap8Group sheet(WriteTemp("zero.bmp", MakeBmp({".....", "....."})), true);
    EXPECT_EQ(sheet.GetCellCount(), 0);
    EXPECT_EQ(sheet.GetWidth(), 5);
}

TEST(BitmapSheet, BlankColumnInsideAGlyphSplitsItAndShiftsLaterCells)
{
    CBitmap8Group sheet(WriteTemp("split.bmp", MakeBmp({"#.#..##", "#.#...#"})), false);
    EXPECT_EQ(Cells(sheet), (std::vector<CellRect>{{0, 0, 1, 2}, {2, 0, 3, 2}, {5, 0, 7, 2}}));
}

TEST(BitmapSheet, ShortGlyphKeepsFullHeightInFontsAndShrinksInIconSheets)
{
    const std::string path = WriteTemp("short.bmp", MakeBmp({"#..", "#..", "#.#", "#.."}));
    CBitmap8Group font(path, false);
    EXPECT_EQ(Cells(font), (std::vector<CellRect>{{0, 0, 1, 4}, {2, 0, 3, 4}}));
    CBitmap8Group icons(path, true);
    EXPECT_EQ(Cells(icons), (std::vector<CellRect>{{0, 0, 1, 4}, {2, 2, 3, 3}}));
}

TEST(BitmapSheet, LoadingAgainStartsFromAnEmptySheet)
{
    CBitmap8Group sheet(WriteTemp("first.bmp", MakeBmp({"#.#.#"})), false);
    ASSERT_EQ(sheet.GetCellCount(), 3);
    ASSERT_TRUE(sheet.Load(WriteTemp("second.bmp", MakeBmp({"##", "##"})), false));
    EXPECT_EQ(Cells(sheet), (std::vector<CellRect>{{0, 0, 2, 2}}));
}

TEST(BitmapSheet, LineTestSkipsItsEndPointAndCountsOutsideAsBlank)
{
    CBitmap8Group sheet(WriteTemp("line.bmp", MakeBmp({"..#..", ".....", "....."})), false);
    EXPECT_TRUE(sheet.IsLineBlank(0, 0, 2, 0));
    EXPECT_FALSE(sheet.IsLineBlank(0, 0, 3, 0));
    EXPECT_TRUE(sheet.IsLineBlank(2, 0, 2, 0));
    EXPECT_TRUE(sheet.IsLineBlank(4, 0, 2, 0));
    EXPECT_FALSE(sheet.IsLineBlank(4, 0, 1, 0));
    EXPECT_FALSE(sheet.IsLineBlank(2, 2, 2, -1));
    EXPECT_TRUE(sheet.IsLineBlank(2, 1, 2, 3));
    EXPECT_TRUE(sheet.IsLineBlank(-9, -1, 9, -1));

    // A line across the whole number range ends at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sheet.IsLineBlank(INT32_MIN, 0, INT32_MAX, 0));
    EXPECT_TRUE(sheet.IsLineBlank(INT32_MAX, 1, INT32_MIN, 1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}
