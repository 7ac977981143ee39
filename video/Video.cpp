#include "video/Video.h"

#include "private/VideoTables.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

namespace
{
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

CVideo::CVideo()
    : m_pScratch(new std::uint8_t[kScratchBytes]()), m_nScratchBytes(kScratchBytes),
      m_pTables(std::make_unique<VideoTables>())
{
}

CVideo::~CVideo() = default;

const DictionaryStats& CVideo::GetDictionaryStats() const
{
    return m_pTables->dictionary.GetStats();
}

void CVideo::ResetDictionaryStats()
{
    m_pTables->dictionary.ResetStats();
}

std::size_t CVideo::GetNodeStoreBytes() const
{
    return m_pTables->nodes.Size() * sizeof(Node) + m_pTables->dictionary.HeldBytes();
}

int CVideo::SetGeometry(int width, int pitch, int height, int originX, int originY)
{
    if (!IsValidPictureSize(width, height) || pitch < width || originX < 0 || originY < 0)
        return 0;
    // Every frame is read at the video's one picture size: a new size would
    // make the frames already held decode as other pictures.
    if (m_nFrameCount >= 1 && (width != m_nWidth || height != m_nHeight))
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

int CVideo::ChoosePalette(const std::uint8_t* palette, bool& append) const
{
    append = false;
    if (m_nPaletteCount > 0 &&
        static_cast<std::size_t>(m_nPaletteCount) <= m_pTables->palettes.Size())
    {
        const std::uint8_t* last =
            m_pTables->palettes[static_cast<std::size_t>(m_nPaletteCount - 1)].bytes;
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
    // Every square of the tree that starts inside the picture can be new:
    // one node at most per entry of the encoder's per-square table.
    if (!PrepareEncoder())
        return AF_NO_MEMORY;
    const std::size_t maxNodes = m_prevIndex.size();
    if (m_pTables->nodes.Size() + maxNodes > static_cast<std::size_t>(INT32_MAX) ||
        m_pTables->frames.Size() >= static_cast<std::size_t>(INT32_MAX) ||
        !m_pTables->frames.Reserve(1) || !m_pTables->palettes.Reserve(1) ||
        !m_pTables->nodes.Reserve(maxNodes) ||
        !m_pTables->dictionary.Reserve(maxNodes, m_pTables->nodes))
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
        m_pTables->palettes.Append(copy);
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

    TakePicture(source + static_cast<std::ptrdiff_t>(m_nOriginY) * m_nPitch + m_nOriginX);
    const std::uint32_t root = EncodeBlock(0, 0, m_nTreeSize);

    m_pTables->frames.Append(FrameRecord{root, paletteIndex, cursor, static_cast<float>(seconds)});
    ++m_nFrameCount;
    return AF_ADDED;
}

void CVideo::ResumeTimeLine(double gapSeconds)
{
    if (m_nFrameCount == 0 || m_frequency <= 0 ||
        static_cast<std::size_t>(m_nFrameCount) > m_pTables->frames.Size())
        return; // the first frame starts the time line anyway
    const double last =
        static_cast<double>(m_pTables->frames[static_cast<std::size_t>(m_nFrameCount) - 1].time);
    const double at = (std::isfinite(last) ? last : 0) + std::max(gapSeconds, 0.0);
    m_startCount = ReadCounter() - static_cast<std::int64_t>(at * static_cast<double>(m_frequency));
}

bool CVideo::GetTimeOrigin(std::chrono::steady_clock::time_point& origin) const
{
    if (m_nFrameCount == 0 || m_frequency <= 0)
        return false;
    using Clock = std::chrono::steady_clock;
    origin = Clock::time_point(Clock::duration(m_startCount));
    return true;
}

int CVideo::GetFrame(int index, std::uint8_t* target, bool withCursor) const
{
    if (index < 0 || index >= m_nFrameCount ||
        static_cast<std::size_t>(index) >= m_pTables->frames.Size())
        return 0;
    if (IsValidPictureSize(m_nWidth, m_nHeight))
        DecodeBlock(m_pTables->frames[static_cast<std::size_t>(index)].root, target, 0, 0,
                    m_nTreeSize);
    if (withCursor)
        DrawCursorMarker(target, index);
    return 1;
}

void CVideo::DrawCursorMarker(std::uint8_t* target, int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_pTables->frames.Size())
        return;
    const std::uint32_t cursor = m_pTables->frames[static_cast<std::size_t>(index)].cursor;
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
    if (index >= 0 && index < m_nFrameCount &&
        static_cast<std::size_t>(index) < m_pTables->frames.Size())
        m_pTables->frames[static_cast<std::size_t>(index)].time = time;
}

std::int64_t CVideo::GetBodySize() const
{
    return 24 + 16 * static_cast<std::int64_t>(m_nFrameCount) +
           16 * static_cast<std::int64_t>(m_nNodeCount) +
           1024 * static_cast<std::int64_t>(m_nPaletteCount);
}

const FrameRecord* CVideo::GetFrameRecord(int index) const
{
    if (index < 0 || index >= m_nFrameCount ||
        static_cast<std::size_t>(index) >= m_pTables->frames.Size())
        return nullptr;
    return &m_pTables->frames[static_cast<std::size_t>(index)];
}

const Node* CVideo::GetNode(std::uint32_t index) const
{
    if (index >= m_pTables->nodes.Size())
        return nullptr;
    return &m_pTables->nodes[index];
}

const Palette* CVideo::GetStoredPalette(int index) const
{
    if (index < 0 || index >= m_nPaletteCount ||
        static_cast<std::size_t>(index) >= m_pTables->palettes.Size())
        return nullptr;
    return &m_pTables->palettes[static_cast<std::size_t>(index)];
}
