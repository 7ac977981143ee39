#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// One cell of a sheet; right and bottom are exclusive.
struct CellRect
{
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;

    bool operator==(const CellRect&) const = default;
};

// A sheet is at most this many pixels on a side (our sheets are a few hundred
// pixels wide); a larger size in a file header is refused before anything is
// allocated.
constexpr std::int32_t kMaxSheetSide = 8192;

// An 8-bit picture read from a BMP file, cut into cells: each maximal run of
// columns holding a non-zero pixel becomes one cell, so a font or icon strip
// needs no description file beside it. Pixel values are game palette indices
// and 0 is transparent; the file's colour table is ignored.
//
// Load accepts only what our sheets are: an uncompressed 8-bit bottom-up BMP.
// Every other file (another bit count, compression, a top-down or empty
// picture, a side above kMaxSheetSide, pixel rows that the file is too short
// to hold) leaves the sheet without cells, and the header is checked against
// the file's size before the pixel array is allocated, so a forged header
// never costs more memory than the file itself backs.
class CBitmap8Group
{
public:
    // Loads `path` and reports nothing; GetCellCount() == 0 tells of a failure.
    CBitmap8Group(const std::string& path, bool trimRows);
    virtual ~CBitmap8Group();
    CBitmap8Group(const CBitmap8Group&) = delete;
    CBitmap8Group& operator=(const CBitmap8Group&) = delete;

    // Discards the previous picture and cells, reads `path` and cuts it into
    // cells. With trimRows each cell shrinks to the bounding box of its pixels;
    // without, every cell spans the full height (fonts: one top row for all
    // glyphs). True when the whole pixel data was read.
    bool Load(const std::string& path, bool trimRows);

    int GetCellCount() const { return static_cast<int>(m_cells.size()); }
    // The cell at `index`, which must be below GetCellCount().
    const CellRect& GetCell(std::uint32_t index) const { return m_cells[index]; }
    // Top row first, rows GetWidth() bytes apart. Null before a load.
    const std::uint8_t* GetBits() const { return m_pBits.get(); }
    std::int32_t GetWidth() const { return m_nWidth; }
    std::int32_t GetHeight() const { return m_nHeight; }

    // True when every pixel on the line from (x0, y0) up to but not including
    // (x1, y1) is 0; points outside the picture count as blank. The line is
    // horizontal or vertical; any other line is walked for max(|dx|, |dy|)
    // diagonal steps, so the test always ends.
    bool IsLineBlank(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) const;

private:
    bool ReadFile(std::FILE* file);
    // One cell per run of non-blank columns, each reaching left to the end of
    // the previous one and spanning `height` rows.
    void SplitColumns(std::int32_t height);
    // Moves each cell's left and right onto its first and last non-blank
    // column and, with trimRows, its top and bottom onto its non-blank rows.
    void TrimCells(bool trimRows);

    std::unique_ptr<std::uint8_t[]> m_pBits;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    std::vector<CellRect> m_cells;
};
