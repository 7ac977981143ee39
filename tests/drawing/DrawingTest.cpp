#include "drawing/Drawing.h"

#include "TestSheets.h"
#include "drawing/Bitmap8Group.h"

#include <gtest/gtest.h>

using namespace testsheets;

namespace
{
// No sheet of these tests has a pixel of this value.
constexpr std::uint8_t kBackground = 200;

// A frame with guard bytes before and after it, so that a write outside the
// frame shows.
struct TestFrame
{
    static constexpr std::size_t kGuard = 64;
    std::int32_t width, height;
    std::vector<std::uint8_t> bytes;

    TestFrame(std::int32_t w, std::int32_t h)
        : width(w), height(h), bytes(static_cast<std::size_t>(w * h) + 2 * kGuard, kBackground)
    {
    }
    FrameView View() { return {bytes.data() + kGuard, width, height}; }
    std::uint8_t At(std::int32_t x, std::int32_t y) const
    {
        return bytes[kGuard + static_cast<std::size_t>(y * width + x)];
    }
    // Row y as text: '.' for the background, else the pixel's character.
    std::string Row(std::int32_t y) const
    {
        std::string row;
        for (std::int32_t x = 0; x < width; ++x)
            row += At(x, y) == kBackground ? '.' : static_cast<char>(At(x, y));
        return row;
    }
    bool GuardsIntact() const
    {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != kBackground || bytes[bytes.size() - 1 - i] != kBackground)
                return false;
        return true;
    }
};

// Glyphs 'A' (2 wide) and 'B' (3 wide, with holes), 3 rows.
const CBitmap8Group& SmallSheet()
{
    static const CBitmap8Group sheet(
        WriteTemp("small.bmp", MakeBmp({"AA.BBB", "A..B.B", "AA.BBB"})), false);
    return sheet;
}

// A font for codes 33..126 whose cell k is (k mod 3) + 1 pixels wide and 2
// rows high, every pixel of value k + 1, so that a wrong cell or a wrong
// advance changes the drawn row.
const CBitmap8Group& CountingFont()
{
    static const CBitmap8Group font = []
    {
        std::vector<std::uint8_t> row;
        for (int k = 0; k < 94; ++k)
        {
            row.insert(row.end(), static_cast<std::size_t>(k % 3 + 1),
                       static_cast<std::uint8_t>(k + 1));
            row.push_back(0);
        }
        BmpFields fields;
        fields.width = static_cast<std::int32_t>(row.size());
        fields.height = 2;
        std::vector<std::uint8_t> pixels = row;
        pixels.insert(pixels.end(), row.begin(), row.end());
        return CBitmap8Group(WriteTemp("counting.bmp", MakeBmp(fields, pixels)), false);
    }();
    return font;
}

// The pieces of a row, one after the other. (A chain of + on literals and
// strings makes GCC 12 warn falsely at -O3.)
std::string Joined(std::initializer_list<std::string> pieces)
{
    std::string row;
    for (const std::string& piece : pieces)
        row += piece;
    return row;
}

std::string Glyph(int code)
{
    const int k = code - 33;
    return std::string(static_cast<std::size_t>(k % 3 + 1), static_cast<char>(k + 1));
}
} // namespace

TEST(DrawGlyph, ColourZeroCopiesTheGlyphsOwnIndices)
{
    TestFrame frame(8, 4);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 2, 1, 0), 3);
    EXPECT_EQ(frame.Row(0), "........");
    EXPECT_EQ(frame.Row(1), "..BBB...");
    EXPECT_EQ(frame.Row(2), "..B.B...");
    EXPECT_EQ(frame.Row(3), "..BBB...");
}

TEST(DrawGlyph, ColourRecoloursInkAndLeavesZeroPixelsUntouched)
{
    TestFrame frame(4, 3);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 0, 1, 0, 255), 2);
    EXPECT_EQ(frame.At(1, 0), 255);
    EXPECT_EQ(frame.At(2, 0), 255);
    EXPECT_EQ(frame.At(2, 1), kBackground);
    EXPECT_EQ(frame.Row(1), ".\xff..");
}

TEST(DrawGlyph, GlyphCutAtTheBottomStillReturnsItsWidth)
{
    TestFrame frame(4, 5);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 0, 3, 0), 3);
    EXPECT_EQ(frame.Row(3), "BBB.");
    EXPECT_EQ(frame.Row(4), "B.B.");
    EXPECT_TRUE(frame.GuardsIntact());
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 0, 5, 0), 3);
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(DrawGlyph, NegativeXOrYDrawsNothingAndReturnsZero)
{
    TestFrame frame(6, 4);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, -1, 0, 0), 0);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 0, -1, 0), 0);
    EXPECT_EQ(DrawSprite(frame.View(), SmallSheet(), 1, -1, 0, 3), 0);
    EXPECT_EQ(frame.bytes, TestFrame(6, 4).bytes);
}

TEST(DrawGlyph, IndexPastTheCellsDrawsNothing)
{
    TestFrame frame(6, 4);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 2, 0, 0, 0), 0);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 0xFFFFFFFF, 0, 0, 0), 0);
    const CBitmap8Group empty("/nonexistent/font1.bmp", false);
    EXPECT_EQ(DrawGlyph(frame.View(), empty, 0, 0, 0, 0), 0);
    EXPECT_EQ(frame.bytes, TestFrame(6, 4).bytes);
}

TEST(DrawGlyph, GlyphCrossingTheRightEdgeIsClippedThere)
{
    TestFrame frame(4, 3);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 2, 0, 0), 3);
    EXPECT_EQ(frame.Row(0), "..BB");
    // Nothing wrapped into the start of the next row.
    EXPECT_EQ(frame.Row(1), "..B.");
    EXPECT_EQ(frame.Row(2), "..BB");
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, 4, 0, 0), 3);
    EXPECT_EQ(DrawGlyph(frame.View(), SmallSheet(), 1, INT32_MAX, INT32_MAX, 0), 3);
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(DrawString, SpaceAdvancesOnePixelAndGlyphsTheirWidthPlusOne)
{
    TestFrame frame(12, 2);
    DrawString(frame.View(), CountingFont(), "a b", 1, 0, 0);
    // 'a' is 2 wide: a at 1, blank at 3, the space at 4, b from 5.
    EXPECT_EQ(frame.Row(0), Joined({".", Glyph('a'), "..", Glyph('b'), "...."}));
    EXPECT_EQ(frame.Row(1), frame.Row(0));
}

TEST(DrawString, BytesLeftOfTheFrameEachAdvanceOne)
{
    TestFrame frame(10, 2);
    DrawString(frame.View(), CountingFont(), "!#$", -2, 0, 0);
    EXPECT_EQ(frame.Row(0), Glyph('$') + std::string(10 - Glyph('$').size(), '.'));
    TestFrame above(10, 2);
    DrawString(above.View(), CountingFont(), "!#$", 0, -1, 0);
    EXPECT_EQ(above.bytes, TestFrame(10, 2).bytes);
}

TEST(DrawString, BytesWithoutAGlyphAdvanceOne)
{
    TestFrame frame(12, 2);
    // A byte of 128 and above is a negative cell index; code 31 is below the font.
    DrawString(frame.View(), CountingFont(), "\xC8!\x1f\"", 0, 0, 0);
    EXPECT_EQ(frame.Row(0), Joined({".", Glyph('!'), "..", Glyph('"'), "......"}));

    TestFrame shortFont(12, 3);
    DrawString(shortFont.View(), SmallSheet(), "#!\"", 0, 0, 0);
    EXPECT_EQ(shortFont.Row(0), ".AA.BBB.....");
}

TEST(DrawString, ColourAppliesToEveryGlyph)
{
    TestFrame frame(12, 2);
    DrawString(frame.View(), CountingFont(), "~}", 0, 1, 'x');
    EXPECT_EQ(frame.Row(1), "x.xxx.......");
}

TEST(DrawSprite, PlayerColourSevenRemapsToTwelveAndUp)
{
    const CBitmap8Group sprite(
        WriteTemp("sprite.bmp",
                  MakeBmp({std::string{'\xd0', '\xd1', '\xd2', '\xd3', '\xd4', '\xcf', '\x05'}})),
        true);
    ASSERT_EQ(sprite.GetCellCount(), 1);
    const auto draw = [&sprite](std::int32_t number)
    {
        TestFrame frame(7, 1);
        EXPECT_EQ(DrawSprite(frame.View(), sprite, 0, 0, 0, number), 7);
        return std::vector<int>(frame.bytes.begin() + TestFrame::kGuard,
                                frame.bytes.end() - TestFrame::kGuard);
    };
    EXPECT_EQ(draw(7), (std::vector<int>{12, 13, 14, 15, 212, 207, 5}));
    EXPECT_EQ(draw(0), (std::vector<int>{208, 209, 210, 211, 212, 207, 5}));
    EXPECT_EQ(draw(3), (std::vector<int>{220, 221, 222, 223, 212, 207, 5}));
    // Colour numbers the table does not have leave the sheet's colours.
    EXPECT_EQ(draw(8), (std::vector<int>{208, 209, 210, 211, 212, 207, 5}));
    EXPECT_EQ(draw(-1), (std::vector<int>{208, 209, 210, 211, 212, 207, 5}));
}

TEST(FillFrameRect, BottomAtTheHeightLeavesTheLastRowUnfilled)
{
    TestFrame frame(3, 4);
    FillFrameRect(frame.View(), 0, 1, 2, 4, 'f');
    EXPECT_EQ(frame.Row(0), "...");
    EXPECT_EQ(frame.Row(1), "ff.");
    EXPECT_EQ(frame.Row(2), "ff.");
    EXPECT_EQ(frame.Row(3), "...");
}

TEST(FillFrameRect, EmptyRectanglesFillNothing)
{
    TestFrame frame(3, 4);
    FillFrameRect(frame.View(), 0, 2, 3, 2, 'f');
    FillFrameRect(frame.View(), 2, 0, 2, 3, 'f');
    FillFrameRect(frame.View(), 0, 3, 3, 1, 'f');
    EXPECT_EQ(frame.bytes, TestFrame(3, 4).bytes);
}

TEST(FillFrameRect, ClipsRectanglesReachingOutsideTheFrame)
{
    TestFrame frame(4, 4);
    FillFrameRect(frame.View(), -3, -2, 2, 2, 'a');
    FillFrameRect(frame.View(), 3, 2, 100, 100, 'b');
    EXPECT_EQ(frame.Row(0), "aa..");
    EXPECT_EQ(frame.Row(1), "aa..");
    EXPECT_EQ(frame.Row(2), "...b");
    EXPECT_EQ(frame.Row(3), "....");
    FillFrameRect(frame.View(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 'c');
    EXPECT_EQ(frame.Row(0), "cccc");
    EXPECT_EQ(frame.Row(3), "....");
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(ShiftPanelUp, MovesTheLeftBlockUpByTwentyFourRows)
{
    TestFrame frame(180, 230);
    for (std::int32_t y = 0; y < frame.height; ++y)
        for (std::int32_t x = 0; x < frame.width; ++x)
            frame.bytes[TestFrame::kGuard + static_cast<std::size_t>(y * frame.width + x)] =
                static_cast<std::uint8_t>(x * 3 + y * 7);
    const TestFrame before = frame;
    ShiftPanelUp(frame.View());
    for (std::int32_t y = 0; y < frame.height; ++y)
        for (std::int32_t x = 0; x < frame.width; ++x)
        {
            const bool moved = x < 174 && y < 204;
            ASSERT_EQ(frame.At(x, y), moved ? before.At(x, y + 24) : before.At(x, y))
                << x << ", " << y;
        }
}

TEST(ShiftPanelUp, LeavesFramesSmallerThanThePanelAlone)
{
    for (const auto& [w, h] : {std::pair{173, 228}, std::pair{174, 227}, std::pair{1, 1}})
    {
        TestFrame frame(w, h);
        for (std::size_t i = 0; i < frame.bytes.size(); ++i)
            frame.bytes[i] = static_cast<std::uint8_t>(i % 251);
        const TestFrame before = frame;
        ShiftPanelUp(frame.View());
        EXPECT_EQ(frame.bytes, before.bytes) << w << " x " << h;
    }
}

TEST(Drawing, FramesWithoutPixelsDrawNothing)
{
    const FrameView none = {nullptr, 640, 480};
    EXPECT_EQ(DrawGlyph(none, SmallSheet(), 0, 0, 0, 0), 2);
    DrawString(none, CountingFont(), "abc", 0, 0, 0);
    FillFrameRect(none, 0, 0, 10, 10, 1);
    ShiftPanelUp(none);
    TestFrame frame(4, 4);
    FillFrameRect({frame.View().pixels, -4, 4}, 0, 0, 4, 4, 'x');
    EXPECT_EQ(frame.bytes, TestFrame(4, 4).bytes);
}
