#include "drawing/Bitmap8Group.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <filesystem>
#include <new>

namespace
{
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The range [first, last) of steps i for which start + i * step lies in
// [0, limit); empty (first >= last) when there is none.
void ClipSteps(std::int64_t start, std::int64_t step, std::int64_t limit, std::int64_t& first,
               std::int64_t& last)
{
    if (step == 0)
    {
        if (start < 0 || start >= limit)
            last = first;
        return;
    }
    // step is +1 or -1: start + i * step in [0, limit).
    const std::int64_t lo = step > 0 ? -start : start - limit + 1;
    const std::int64_t hi = step > 0 ? limit - start : start + 1;
    first = std::max(first, lo);
    last = std::min(last, hi);
}

std::int64_t Sign(std::int64_t v)
{
    return (v > 0) - (v < 0);
}
} // namespace

CBitmap8Group::CBitmap8Group(const std::string& path, bool trimRows)
{
    Load(path, trimRows);
}

CBitmap8Group::~CBitmap8Group()
{
    m_pBits.reset();
    m_cells.clear();
}

bool CBitmap8Group::Load(const std::string& path, bool trimRows)
{
    m_pBits.reset();
    m_cells.clear();
    m_nWidth = 0;
    m_nHeight = 0;

    // Regular files only: opening a FIFO with no writer would wait for ever.
    // The name is UTF-8, as every file name of the program.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::u8string(path.begin(), path.end()), ec))
        return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr || !ReadFile(file.get()))
        return false;
    file.reset();

    SplitColumns(m_nHeight);
    TrimCells(trimRows);
    return true;
}

// Reads the headers and the pixel rows. Everything the header claims is
// checked against the file's real size first: the allocation below is never
// larger than the bytes that are there to fill it.
bool CBitmap8Group::ReadFile(std::FILE* file)
{
    std::uint8_t header[kFileHeaderBytes + kInfoHeaderBytes];
    if (std::fread(header, 1, sizeof(header), file) != sizeof(header))
        return false;
    const std::uint8_t* info = header + kFileHeaderBytes;

    const std::uint32_t pixelOffset = LoadLe32(header + 10);
    const std::uint32_t infoSize = LoadLe32(info + 0);
    const std::int32_t width = static_cast<std::int32_t>(LoadLe32(info + 4));
    const std::int32_t height = static_cast<std::int32_t>(LoadLe32(info + 8));
    const std::uint16_t bitCount = LoadLe16(info + 14);
    const std::uint32_t compression = LoadLe32(info + 16);

    // "BM", an information header of the 40-byte layout or a later one that
    // extends it, 8 bits a pixel, no compression (BI_RGB), bottom-up rows.
    if (header[0] != 'B' || header[1] != 'M' || infoSize < kInfoHeaderBytes)
        return false;
    if (bitCount != 8 || compression != 0)
        return false;
    if (width <= 0 || height <= 0 || width > kMaxSheetSide || height > kMaxSheetSide)
        return false;
    if (pixelOffset < sizeof(header))
        return false;

    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    const long fileSize = std::ftell(file);
    if (fileSize < 0)
        return false;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(height);
    // The last row's padding may be missing in files that end right after its
    // pixels; the reading below does not need it either.
    const std::size_t needed =
        pixelOffset + pixelBytes - (rowBytes - static_cast<std::size_t>(width));
    if (needed > static_cast<std::size_t>(fileSize))
        return false;

    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    m_pBits.reset(new (std::nothrow) std::uint8_t[size]);
    if (m_pBits == nullptr)
        return false;
    m_nWidth = width;
    m_nHeight = height;

    if (std::fseek(file, static_cast<long>(pixelOffset), SEEK_SET) != 0)
        return false;
    const std::size_t rowWidth = static_cast<std::size_t>(width);
    for (std::int32_t i = 0; i < height; ++i)
    {
        // The first row in the file is the bottom row of the picture.
        std::uint8_t* row = m_pBits.get() + static_cast<std::size_t>(height - 1 - i) * rowWidth;
        if (std::fread(row, 1, rowWidth, file) != rowWidth)
            return false;
        if (rowBytes != rowWidth &&
            std::fseek(file, static_cast<long>(rowBytes - rowWidth), SEEK_CUR) != 0)
            return false;
    }
    return true;
}

bool CBitmap8Group::IsLineBlank(std::int32_t x0, std::int32_t y0, std::int32_t x1,
                                std::int32_t y1) const
{
    if (m_pBits == nullptr)
        return true;
    const std::int64_t dx = std::int64_t{x1} - x0, dy = std::int64_t{y1} - y0;
    const std::int64_t sx = Sign(dx), sy = Sign(dy);
    // Only the steps that land inside the picture are visited, so a line
    // that runs far outside it costs nothing.
    std::int64_t first = 0, last = std::max(dx * sx, dy * sy);
    ClipSteps(x0, sx, m_nWidth, first, last);
    ClipSteps(y0, sy, m_nHeight, first, last);
    for (std::int64_t i = first; i < last; ++i)
    {
        const std::int64_t x = x0 + i * sx, y = y0 + i * sy;
        if (m_pBits[static_cast<std::size_t>(y * m_nWidth + x)] != 0)
            return false;
    }
    return true;
}

void CBitmap8Group::SplitColumns(std::int32_t height)
{
    if (m_nWidth < 0)
        return;
    std::int32_t start = 0;
    bool previousBlank = true;
    for (std::int32_t x = 0; x <= m_nWidth; ++x)
    {
        const bool blank = IsLineBlank(x, 0, x, height);
        if (blank && !previousBlank)
        {
            m_cells.push_back({start, 0, x, height});
            start = x;
        }
        previousBlank = blank;
    }
}

void CBitmap8Group::TrimCells(bool trimRows)
{
    // Every cell holds a non-blank column, so each loop stops inside it; the
    // extra bounds only make that visible.
    for (CellRect& cell : m_cells)
    {
        while (cell.left < cell.right && IsLineBlank(cell.left, cell.top, cell.left, cell.bottom))
            ++cell.left;
        while (cell.right > cell.left &&
               IsLineBlank(cell.right - 1, cell.top, cell.right - 1, cell.bottom))
            --cell.right;
        if (!trimRows)
            continue;
        while (cell.top < cell.bottom && IsLineBlank(cell.left, cell.top, cell.right, cell.top))
            ++cell.top;
        while (cell.bottom > cell.top &&
               IsLineBlank(cell.left, cell.bottom - 1, cell.right, cell.bottom - 1))
            --cell.bottom;
    }
}
