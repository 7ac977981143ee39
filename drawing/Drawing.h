#pragma once

#include <cstdint>

class CBitmap8Group;

// The picture the primitives draw into: one palette index per pixel, pixel
// (x, y) at pixels[y * width + x], rows top to bottom with no padding. The
// primitives never touch a byte outside width x height; a frame with a null
// array or a side of 0 or less draws nothing.
struct FrameView
{
    std::uint8_t* pixels;
    std::int32_t width;
    std::int32_t height;
};

// The player colour table: base palette index of each colour number 0..7.
// A sprite pixel 208..211 becomes base + (pixel AND 3).
inline constexpr std::uint8_t kPlayerColourBase[8] = {208, 212, 216, 220, 224, 228, 232, 12};

// Copies cell `index` of `sheet` with its pixel (left, top) at (x, y). Pixels
// 0 are transparent; every other pixel is drawn as `colour`, or as itself when
// `colour` is 0. Rows at or below the frame's bottom and columns at or past
// its right edge are cut off. Returns the cell's width, whatever was cut off;
// 0, drawing nothing, when x or y is negative or `index` is not a cell.
std::int32_t DrawGlyph(const FrameView& frame, const CBitmap8Group& sheet, std::uint32_t index,
                       std::int32_t x, std::int32_t y, std::uint8_t colour);

// As DrawGlyph in the cell's own colours, except that pixels 208..211 take
// the colours of player colour number `colourNumber`. A number outside 0..7
// leaves them as they are.
std::int32_t DrawSprite(const FrameView& frame, const CBitmap8Group& sheet, std::uint32_t index,
                        std::int32_t x, std::int32_t y, std::int32_t colourNumber);

// Draws the NUL-terminated `text` from (x, y) with `font`, whose cell k is the
// glyph of code 33 + k. A space advances 1 pixel, a drawn glyph its width + 1,
// and a byte without a glyph (or not drawn because x or y is negative) 1.
void DrawString(const FrameView& frame, const CBitmap8Group& font, const char* text, std::int32_t x,
                std::int32_t y, std::uint8_t colour);

// Fills columns left..right-1 of rows top..bottom-1 with `colour`. A bottom at
// or below the frame's height becomes height - 1, which leaves the last row
// unfilled as the overlay layout expects. Parts left of column 0, above row 0
// or right of the frame are cut off.
void FillFrameRect(const FrameView& frame, std::int32_t left, std::int32_t top, std::int32_t right,
                   std::int32_t bottom, std::uint8_t colour);

// Moves rows 24..227 of columns 0..173 up by 24 rows; rows 204..227 keep their
// contents. Does nothing on a frame smaller than 174 x 228.
void ShiftPanelUp(const FrameView& frame);
