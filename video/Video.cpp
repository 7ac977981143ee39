#include "Video.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <new>

static_assert(std::endian::native == std::endian::little,
              "nodes, records and files share one little-endian layout");

namespace
{
std::uint32_t Load32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Store32(std::uint8_t* p, std::uint32_t v)
{
    std::memcpy(p, &v, 4);
}

// Leaf layout: each word holds one 2 x 2 quadrant, its upper row in the high
// half and its lower row in the low half, left pixel in the lower byte.
Node PackLeaf(std::uint32_t r0, std::uint32_t r1, std::uint32_t r2, std::uint32_t r3)
{
    return Node{{(r1 & 0xFFFFu) | (r0 << 16), (r1 >> 16) | (r0 & 0xFFFF0000u),
                 (r3 & 0xFFFFu) | (r2 << 16), (r3 >> 16) | (r2 & 0xFFFF0000u)}};
}

void UnpackLeaf(const Node& n, std::uint32_t rows[4])
{
    rows[0] = (n.w[0] >> 16) | (n.w[1] & 0xFFFF0000u);
    rows[1] = (n.w[0] & 0xFFFFu) | (n.w[1] << 16);
    rows[2] = (n.w[2] >> 16) | (n.w[3] & 0xFFFF0000u);
    rows[3] = (n.w[2] & 0xFFFFu) | (n.w[3] << 16);
}

std::int64_t ReadCounter()
{
    using Clock = std::chrono::steady_clock;
    return static_cast<std::int64_t>(Clock::now().time_since_epoch().count());
}

std::int64_t CounterFrequency()
{
    using Period = std::chrono::steady_clock::period;
    return static_cast<std::int64_t>(Period::den / Period::num);
}

bool PaletteEntryEqual(const std::uint8_t* a, const std::uint8_t* b, int entry)
{
    return std::memcmp(a + 4 * entry, b + 4 * entry, 4) == 0;
}
} // namespace

bool IsValidPictureSize(int width, int height)
{
    return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           std::max(width, height) > 2;
}

std::size_t CVideo::PaddedPictureBytes(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const std::size_t w = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    const std::size_t h = (static_cast<std::size_t>(height) + 3) & ~std::size_t{3};
    return w * h;
}

CVideo::CVideo() : m_pScratch(new std::uint8_t[kScratchBytes]()), m_nScratchBytes(kScratchBytes) {}

CVideo::~CVideo() = default;

int CVideo::SetGeometry(int width, int pitch, int height, int originX, int originY)
{
    if (!IsValidPictureSize(width, height) || pitch < width || originX < 0 || originY < 0)
        return 0;
    m_nWidth = width;
    m_nPitch = pitch;
    m_nHeight = height;
    m_nOriginX = originX;
    m_nOriginY = originY;
    UpdateTreeSize();
    m_bPreviousValid = false;
    m_bEncoderReady = false;
    return 1;
}

void CVideo::UpdateTreeSize()
{
    // Counted in 64 bits and capped, so that no width or height overflows it;
    // sizes anywhere near the cap are refused before they reach the codec.
    const std::int64_t side = std::max<std::int64_t>(m_nWidth, m_nHeight);
    std::int64_t tree = 1;
    while (tree < side && tree < (std::int64_t{1} << 30))
        tree *= 2;
    m_nTreeSize = static_cast<std::int32_t>(tree);
}

std::size_t CVideo::MaxNodesPerFrame() const
{
    // Every square of the tree that starts inside the picture can be new.
    std::size_t total = 0;
    for (std::int64_t side = 4; side <= m_nTreeSize; side *= 2)
    {
        const std::int64_t columns = (m_nWidth + side - 1) / side;
        const std::int64_t rows = (m_nHeight + side - 1) / side;
        total += static_cast<std::size_t>(columns * rows);
    }
    return total;
}

// Sizes the previous-frame caches for the current geometry; false when memory
// ran out (nothing else has changed then).
bool CVideo::PrepareEncoder()
{
    if (m_bEncoderReady)
        return true;
    const int stride = (m_nWidth + 3) & ~3;
    const std::size_t pixels = PaddedPictureBytes(m_nWidth, m_nHeight);
    try
    {
        std::vector<std::size_t> offsets;
        std::vector<int> columns;
        std::size_t total = 0;
        for (std::int64_t side = 4; side <= m_nTreeSize; side *= 2)
        {
            const std::int64_t cols = (m_nWidth + side - 1) / side;
            const std::int64_t rows = (m_nHeight + side - 1) / side;
            offsets.push_back(total);
            columns.push_back(static_cast<int>(cols));
            total += static_cast<std::size_t>(cols * rows);
        }
        std::vector<std::uint8_t> prevPixels(pixels);
        std::vector<std::uint32_t> prevIndex(total);
        m_prevPixels.swap(prevPixels);
        m_prevIndex.swap(prevIndex);
        m_levelOffset.swap(offsets);
        m_levelColumns.swap(columns);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    m_nPrevStride = stride;
    m_bPreviousValid = false;
    m_bEncoderReady = true;
    return true;
}

int CVideo::ChoosePalette(const std::uint8_t* palette, bool& append) const
{
    append = false;
    if (m_nPaletteCount > 0 && static_cast<std::size_t>(m_nPaletteCount) <= m_palettes.Size())
    {
        const std::uint8_t* last = m_palettes[static_cast<std::size_t>(m_nPaletteCount - 1)].bytes;
        if (PaletteEntryEqual(last, palette, 192) && PaletteEntryEqual(last, palette, 255))
            return m_nPaletteCount - 1;
    }
    for (int i = 0; i < kPaletteBytes; ++i)
        if (palette[i] != 0)
        {
            append = true;
            return m_nPaletteCount;
        }
    return -1; // all zero: drop the frame
}

int CVideo::AddFrame(std::uint32_t cursor, const std::uint8_t* palette, const std::uint8_t* source)
{
    if (!m_bAppendable || !IsValidPictureSize(m_nWidth, m_nHeight))
        return AF_SKIPPED;

    // Everything this frame can need is allocated first, so that running out
    // of memory leaves the video exactly as it was. Capacity reserved and not
    // used is invisible to every reader.
    const std::size_t maxNodes = MaxNodesPerFrame();
    if (m_nodes.Size() + maxNodes > static_cast<std::size_t>(INT32_MAX) ||
        m_frames.Size() >= static_cast<std::size_t>(INT32_MAX) || !m_frames.Reserve(1) ||
        !m_palettes.Reserve(1) || !m_nodes.Reserve(maxNodes) || !m_dictionary.Reserve(maxNodes) ||
        !PrepareEncoder())
        return AF_NO_MEMORY;

    m_bSaved = 0;

    bool appendPalette = false;
    const int paletteIndex = ChoosePalette(palette, appendPalette);
    if (paletteIndex < 0)
        return AF_SKIPPED;
    if (appendPalette)
    {
        Palette copy;
        std::memcpy(copy.bytes, palette, kPaletteBytes);
        m_palettes.Append(copy);
        ++m_nPaletteCount;
    }

    const std::int64_t counter = ReadCounter();
    if (m_nFrameCount == 0)
    {
        m_frequency = CounterFrequency();
        m_startCount = counter;
    }
    const double seconds =
        static_cast<double>(counter - m_startCount) / static_cast<double>(m_frequency);

    m_pSource = source + static_cast<std::ptrdiff_t>(m_nOriginY) * m_nPitch + m_nOriginX;
    const std::uint32_t root = EncodeBlock(0, 0, m_nTreeSize);
    m_pSource = nullptr;

    m_frames.Append(FrameRecord{root, paletteIndex, cursor, static_cast<float>(seconds)});
    ++m_nFrameCount;
    return AF_ADDED;
}

std::uint32_t CVideo::EncodeBlock(int x, int y, int side)
{
    int level = 0;
    while ((4 << level) < side)
        ++level;
    bool unchanged = false;
    const std::uint32_t root = EncodeSquare(x, y, level, unchanged);
    m_bPreviousValid = true;
    return root;
}

std::uint32_t CVideo::EncodeLeaf(int x, int y, bool& unchanged)
{
    // Rows of the leaf; a leaf that straddles the right or bottom edge reads
    // only the pixels inside the picture and takes 0 for the rest.
    std::uint32_t r[4];
    const std::uint8_t* src = m_pSource + static_cast<std::ptrdiff_t>(y) * m_nPitch + x;
    if (x + 4 <= m_nWidth && y + 4 <= m_nHeight)
    {
        for (int row = 0; row < 4; ++row)
            r[row] = Load32(src + static_cast<std::ptrdiff_t>(row) * m_nPitch);
    }
    else
    {
        const int cols = std::min(4, m_nWidth - x);
        const int rows = std::min(4, m_nHeight - y);
        for (int row = 0; row < 4; ++row)
        {
            std::uint8_t bytes[4] = {0, 0, 0, 0};
            if (row < rows)
                std::memcpy(bytes, src + static_cast<std::ptrdiff_t>(row) * m_nPitch,
                            static_cast<std::size_t>(cols));
            r[row] = Load32(bytes);
        }
    }

    std::uint32_t& remembered =
        m_prevIndex[static_cast<std::size_t>(y / 4) * static_cast<std::size_t>(m_levelColumns[0]) +
                    static_cast<std::size_t>(x / 4)];
    std::uint8_t* prev = m_prevPixels.data() +
                         static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nPrevStride) +
                         static_cast<std::size_t>(x);
    const std::size_t stride = static_cast<std::size_t>(m_nPrevStride);
    if (m_bReuseUnchanged && m_bPreviousValid && Load32(prev) == r[0] &&
        Load32(prev + stride) == r[1] && Load32(prev + 2 * stride) == r[2] &&
        Load32(prev + 3 * stride) == r[3])
    {
        unchanged = true;
        return remembered;
    }
    Store32(prev, r[0]);
    Store32(prev + stride, r[1]);
    Store32(prev + 2 * stride, r[2]);
    Store32(prev + 3 * stride, r[3]);

    const Node leaf = PackLeaf(r[0], r[1], r[2], r[3]);
    const std::uint32_t newIndex = static_cast<std::uint32_t>(m_nodes.Size());
    std::uint32_t index = m_dictionary.FindOrInsert(leaf, newIndex, m_nodes);
    if (index == CBlockDictionary::kNotFound)
    {
        m_nodes.Append(leaf);
        ++m_nNodeCount;
        index = newIndex;
    }
    unchanged = m_bPreviousValid && index == remembered;
    remembered = index;
    return index;
}

std::uint32_t CVideo::EncodeSquare(int x, int y, int level, bool& unchanged)
{
    if (x >= m_nWidth || y >= m_nHeight)
    {
        unchanged = true; // outside squares are always 0
        return 0;
    }
    if (level == 0)
        return EncodeLeaf(x, y, unchanged);

    const int h = 2 << level; // half the side: the side is 4 << level
    bool same[4];
    Node inner;
    inner.w[0] = EncodeSquare(x, y, level - 1, same[0]);
    inner.w[1] = EncodeSquare(x + h, y, level - 1, same[1]);
    inner.w[2] = EncodeSquare(x, y + h, level - 1, same[2]);
    inner.w[3] = EncodeSquare(x + h, y + h, level - 1, same[3]);

    const int side = 4 << level;
    std::uint32_t& remembered =
        m_prevIndex[m_levelOffset[static_cast<std::size_t>(level)] +
                    static_cast<std::size_t>(y / side) *
                        static_cast<std::size_t>(m_levelColumns[static_cast<std::size_t>(level)]) +
                    static_cast<std::size_t>(x / side)];
    if (m_bReuseUnchanged && m_bPreviousValid && same[0] && same[1] && same[2] && same[3])
    {
        unchanged = true;
        return remembered;
    }

    const std::uint32_t newIndex = static_cast<std::uint32_t>(m_nodes.Size());
    std::uint32_t index = m_dictionary.FindOrInsert(inner, newIndex, m_nodes);
    if (index == CBlockDictionary::kNotFound)
    {
        m_nodes.Append(inner);
        ++m_nNodeCount;
        index = newIndex;
    }
    unchanged = m_bPreviousValid && index == remembered;
    remembered = index;
    return index;
}

void CVideo::DecodeBlock(std::uint32_t index, std::uint8_t* target, int x, int y, int side) const
{
    if (x >= m_nWidth || y >= m_nHeight)
        return;
    // Checked against the table itself: after a short read the header's count
    // can promise more nodes than are present.
    if (index >= m_nodes.Size() || index >= static_cast<std::uint32_t>(m_nNodeCount))
        return;
    const Node& node = m_nodes[index];
    if (side > 4)
    {
        const int h = side / 2;
        DecodeBlock(node.w[0], target, x, y, h);
        DecodeBlock(node.w[1], target, x + h, y, h);
        DecodeBlock(node.w[2], target, x, y + h, h);
        DecodeBlock(node.w[3], target, x + h, y + h, h);
        return;
    }
    if (side < 4)
        return;

    std::uint32_t rows[4];
    UnpackLeaf(node, rows);
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    std::uint8_t* dst = target + static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
    if (x + 4 <= m_nWidth && y + 4 <= m_nHeight)
    {
        for (std::size_t row = 0; row < 4; ++row)
            Store32(dst + row * width, rows[row]);
        return;
    }
    // A leaf on the right or bottom edge writes only its pixels inside the picture.
    const std::size_t cols = static_cast<std::size_t>(std::min(4, m_nWidth - x));
    const int visibleRows = std::min(4, m_nHeight - y);
    for (int row = 0; row < visibleRows; ++row)
    {
        std::uint8_t bytes[4];
        Store32(bytes, rows[row]);
        std::memcpy(dst + static_cast<std::size_t>(row) * width, bytes, cols);
    }
}

int CVideo::GetFrame(int index, std::uint8_t* target, bool withCursor) const
{
    if (index < 0 || index >= m_nFrameCount || static_cast<std::size_t>(index) >= m_frames.Size())
        return 0;
    if (IsValidPictureSize(m_nWidth, m_nHeight))
        DecodeBlock(m_frames[static_cast<std::size_t>(index)].root, target, 0, 0, m_nTreeSize);
    if (withCursor)
        DrawCursorMarker(target, index);
    return 1;
}

void CVideo::DrawCursorMarker(std::uint8_t* target, int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_frames.Size())
        return;
    const std::uint32_t cursor = m_frames[static_cast<std::size_t>(index)].cursor;
    const int x = static_cast<int>(cursor & 0xFFFFu);
    const int y = static_cast<int>(cursor >> 16);
    // An arrow head with its tip at the pointer.
    static constexpr int kPoints[9][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2},
                                          {0, 1}, {1, 2}, {1, 3}, {2, 4}};
    const std::int64_t size = static_cast<std::int64_t>(m_nWidth) * m_nHeight;
    for (const auto& point : kPoints)
    {
        const int px = x + point[0];
        const int py = y + point[1];
        if (px < 0 || px >= m_nWidth || py < 0 || py >= m_nHeight)
            continue;
        const std::int64_t offset =
            static_cast<std::int64_t>(py - m_nOriginY) * m_nWidth - m_nOriginX + px;
        if (offset >= 0 && offset < size)
            target[offset] = 255;
    }
}

int CVideo::GetPalette(int index, std::uint8_t* target) const
{
    const FrameRecord* frame = GetFrameRecord(index);
    if (frame == nullptr)
        return 0;
    const Palette* palette = GetStoredPalette(frame->palette);
    if (palette == nullptr)
        return 0;
    std::memcpy(target, palette->bytes, kPaletteBytes);
    return 1;
}

float CVideo::GetFrameTime(int index) const
{
    const FrameRecord* frame = GetFrameRecord(index);
    return frame ? frame->time : 0.0f;
}

void CVideo::SetFrameTime(int index, float time)
{
    if (index >= 0 && index < m_nFrameCount && static_cast<std::size_t>(index) < m_frames.Size())
        m_frames[static_cast<std::size_t>(index)].time = time;
}

std::int64_t CVideo::GetBodySize() const
{
    return 24 + 16 * static_cast<std::int64_t>(m_nFrameCount) +
           16 * static_cast<std::int64_t>(m_nNodeCount) +
           1024 * static_cast<std::int64_t>(m_nPaletteCount);
}

const FrameRecord* CVideo::GetFrameRecord(int index) const
{
    if (index < 0 || index >= m_nFrameCount || static_cast<std::size_t>(index) >= m_frames.Size())
        return nullptr;
    return &m_frames[static_cast<std::size_t>(index)];
}

const Node* CVideo::GetNode(std::uint32_t index) const
{
    if (index >= m_nodes.Size())
        return nullptr;
    return &m_nodes[index];
}

const Palette* CVideo::GetStoredPalette(int index) const
{
    if (index < 0 || index >= m_nPaletteCount ||
        static_cast<std::size_t>(index) >= m_palettes.Size())
        return nullptr;
    return &m_palettes[static_cast<std::size_t>(index)];
}
