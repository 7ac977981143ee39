#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit picture being drawn: palette indices, top row first, no padding.
struct SheetPicture
{
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// 256 entries of red, green, blue.
using SheetPalette = std::vector<std::uint8_t>;

// Palette indices the art uses; 208..211 are where the player colour goes.
constexpr std::uint8_t kInkIndex = 255;
constexpr std::uint8_t kPlayerIndex = 208;

// The font sheets: glyphs of codes 33..126 left to right, one blank column
// between neighbours, every glyph in kInkIndex. Font 1 is 8 rows high (one
// descender row), font 2 is 7 rows high with bolder figures. Both return an
// empty picture and set `error` when a glyph design breaks the sheet rules.
SheetPicture DrawFont1(std::string& error);
SheetPicture DrawFont2(std::string& error);
// The unit icon strip: worker, foot soldier, ranged and mounted unit, each
// for both sides (cells 2j and 2j + 1), 24 x 20 pixels a cell.
SheetPicture DrawUnits(std::string& error);
// A palette in which the art and the eight player colour ramps look as they
// would in the game: it only serves viewers of the files, the game uses its
// own.
SheetPalette MakeSheetPalette();

// Puts `cells` (all of one height) side by side, `gap` blank columns apart.
// Fails, naming the cell, when a cell is empty or has a column without a
// non-zero pixel: the loader would cut it into two cells and every later cell
// would shift by one.
SheetPicture JoinCells(const std::vector<SheetPicture>& cells, std::int32_t gap,
                       const std::vector<std::string>& names, std::string& error);

bool WriteBmp(const std::string& path, const SheetPicture& picture, const SheetPalette& palette);
// Loads the three written sheets back from `dir` and draws a sample line of
// each font and the icon strip in all player colours, scaled by `scale`.
bool WritePreview(const std::string& path, const std::string& dir, const SheetPalette& palette,
                  int scale, std::string& error);
