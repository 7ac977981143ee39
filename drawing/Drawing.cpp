// The overlay primitives. Each checks its own arguments against the frame and
// the sheet and clips, so that a wrong coordinate from game memory can at most
// draw in the wrong place, never outside the frame buffer.

#include "drawing/Drawing.h"

#include "drawing/Bitmap8Group.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace
{
bool IsDrawable(const FrameView& frame)
{
    return frame.pixels != nullptr && frame.width > 0 && frame.height > 0;
}

// Copies the visible part of cell `index` at (x, y), passing every non-zero
// sheet pixel through `pixelRule`. The result never depends on the clipping.
template <typename PixelRule>
std::int32_t DrawCell(const FrameView& frame, const CBitmap8Group& sheet, std::uint32_t index,
                      std::int32_t x, std::int32_t y, PixelRule pixelRule)
{
    if (x < 0 || y < 0)
        return 0;
    if (index >= static_cast<std::uint32_t>(sheet.GetCellCount()))
        return 0;
    const CellRect& cell = sheet.GetCell(index);
    const std::int32_t w = cell.right - cell.left;
    if (!IsDrawable(frame) || x >= frame.width || y >= frame.height)
        return w;

    const std::int32_t columns = std::min(w, frame.width - x);
    const std::int32_t rows = std::min(cell.bottom - cell.top, frame.height - y);
    const std::size_t sheetStride = static_cast<std::size_t>(sheet.GetWidth());
    const std::size_t frameStride = static_cast<std::size_t>(frame.width);
    for (std::int32_t r = 0; r < rows; ++r)
    {
        const std::uint8_t* source = sheet.GetBits() +
                                     static_cast<std::size_t>(cell.top + r) * sheetStride +
                                     static_cast<std::size_t>(cell.left);
        std::uint8_t* target = frame.pixels + static_cast<std::size_t>(y + r) * frameStride +
                               static_cast<std::size_t>(x);
        for (std::int32_t c = 0; c < columns; ++c)
        {
            const std::uint8_t s = source[c];
            if (s != 0)
                target[c] = pixelRule(s);
        }
    }
    return w;
}
} // namespace

std::int32_t DrawGlyph(const FrameView& frame, const CBitmap8Group& sheet, std::uint32_t index,
                       std::int32_t x, std::int32_t y, std::uint8_t colour)
{
    return DrawCell(frame, sheet, index, x, y,
                    [colour](std::uint8_t s) { return colour != 0 ? colour : s; });
}

std::int32_t DrawSprite(const FrameView& frame, const CBitmap8Group& sheet, std::uint32_t index,
                        std::int32_t x, std::int32_t y, std::int32_t colourNumber)
{
    // A colour number the table does not know keeps the sheet's own 208..211,
    // which are colour number 0's.
    const std::uint8_t base =
        colourNumber >= 0 && colourNumber < 8 ? kPlayerColourBase[colourNumber] : 208;
    return DrawCell(frame, sheet, index, x, y,
                    [base](std::uint8_t s)
                    {
                        if (s >= 208 && s <= 211)
                            return static_cast<std::uint8_t>(base + (s & 3));
                        return s;
                    });
}

void DrawString(const FrameView& frame, const CBitmap8Group& font, const char* text, std::int32_t x,
                std::int32_t y, std::uint8_t colour)
{
    if (text == nullptr)
        return;
    // Kept wide: a long text from near the largest x must not wrap around.
    std::int64_t pen = x;
    for (const char* p = text; *p != '\0' && pen <= INT32_MAX; ++p)
    {
        if (*p == ' ')
        {
            pen += 1;
            continue;
        }
        const int index = static_cast<signed char>(*p) - 33;
        const std::int32_t w = DrawGlyph(frame, font, static_cast<std::uint32_t>(index),
                                         static_cast<std::int32_t>(pen), y, colour);
        pen += std::int64_t{w} + 1;
    }
}

void FillFrameRect(const FrameView& frame, std::int32_t left, std::int32_t top, std::int32_t right,
                   std::int32_t bottom, std::uint8_t colour)
{
    if (!IsDrawable(frame))
        return;
    if (bottom >= frame.height)
        bottom = frame.height - 1;
    top = std::max(top, 0);
    left = std::max(left, 0);
    right = std::min(right, frame.width);
    if (top >= bottom || left >= right)
        return;
    for (std::int32_t row = top; row < bottom; ++row)
        std::memset(frame.pixels +
                        static_cast<std::size_t>(row) * static_cast<std::size_t>(frame.width) +
                        static_cast<std::size_t>(left),
                    colour, static_cast<std::size_t>(right - left));
}

void ShiftPanelUp(const FrameView& frame)
{
    constexpr std::int32_t kColumns = 174, kRows = 228, kShift = 24;
    if (!IsDrawable(frame) || frame.width < kColumns || frame.height < kRows)
        return;
    const std::size_t stride = static_cast<std::size_t>(frame.width);
    for (std::size_t r = 0; r + kShift < kRows; ++r)
        std::memmove(frame.pixels + r * stride, frame.pixels + (r + kShift) * stride, kColumns);
}
