// Operations on a whole video: copying a range of frames into a new video,
// and the statistics of the "Stats" box.

#include "private/VideoTables.h"
#include "video/Video.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

int CVideo::ExtractTo(int first, int last, CVideo& target, const ProgressFn& progress)
{
    // The scratch picture is compact (rows m_nWidth apart, from its start),
    // so that is the geometry the target encodes it with.
    if (!target.SetGeometry(m_nWidth, m_nWidth, m_nHeight, 0, 0))
        return 1; // no picture size: nothing to copy
    if (first < 0)
        first = 0;
    if (last > m_nFrameCount - 1)
        last = m_nFrameCount - 1;
    if (first > last)
        return 1;

    // The fragment's node table and dictionary at their final size from the
    // start, so the dictionary does not grow while the frames are encoded
    // again. Without the room (no memory) the target grows as it goes.
    target.ReserveNodes(CountNodesUsed(first, last));

    const std::size_t pictureBytes = PaddedPictureBytes(m_nWidth, m_nHeight);
    if (pictureBytes > m_nScratchBytes)
    {
        std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[pictureBytes]());
        if (!larger)
            return 0;
        m_pScratch = std::move(larger);
        m_nScratchBytes = pictureBytes;
    }

    const float firstTime = GetFrameTime(first);
    const int total = last - first + 1;
    for (int j = first; j <= last; ++j)
    {
        std::uint8_t palette[kPaletteBytes];
        // A frame whose palette is missing (a damaged file) has nothing to
        // show; it is left out rather than shown in another frame's colours.
        if (GetPalette(j, palette) && GetFrame(j, m_pScratch.get(), false))
        {
            const int result = target.AddFrame(
                m_pTables->frames[static_cast<std::size_t>(j)].cursor, palette, m_pScratch.get());
            if (result == AF_NO_MEMORY)
                return 0;
            // The target drops a frame whose palette is all zero; only frames
            // it holds get a time stamp.
            if (result == AF_ADDED)
                target.SetFrameTime(target.GetFrameCount() - 1, GetFrameTime(j) - firstTime);
        }
        if (progress && !progress(j - first + 1, total))
            return 0;
    }
    return 1;
}

std::size_t CVideo::CountNodesUsed(int first, int last) const
{
    // Each node once, its quadrants searched the first time it is met as a
    // square above a leaf. A node met both as a leaf and as a larger square
    // is encoded twice in a fragment and counted once here; such a node is
    // rare, and a count too low only leaves the target to grow.
    const std::size_t count =
        std::min(m_pTables->nodes.Size(), static_cast<std::size_t>(m_nNodeCount));
    std::size_t used = 0;
    try
    {
        std::vector<bool> seen(count), searched(count);
        struct Square
        {
            std::uint32_t index;
            std::int32_t side;
        };
        std::vector<Square> stack;
        for (int j = first; j <= last; ++j)
        {
            const FrameRecord* frame = GetFrameRecord(j);
            if (frame == nullptr)
                continue;
            stack.push_back(Square{frame->root, m_nTreeSize});
            while (!stack.empty())
            {
                const Square square = stack.back();
                stack.pop_back();
                if (square.index >= count)
                    continue;
                if (!seen[square.index])
                {
                    seen[square.index] = true;
                    ++used;
                }
                if (square.side <= 4 || searched[square.index])
                    continue;
                searched[square.index] = true;
                for (const std::uint32_t quadrant : m_pTables->nodes[square.index].w)
                    stack.push_back(Square{quadrant, square.side / 2});
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    return used;
}

void CVideo::ReserveNodes(std::size_t count)
{
    if (!PrepareEncoder())
        return;
    // Beyond the count, the room AddFrame makes for a frame of new squares.
    const std::size_t extra = count + m_prevIndex.size();
    if (m_pTables->nodes.Reserve(extra))
        (void)m_pTables->dictionary.Reserve(extra, m_pTables->nodes);
}

void CVideo::GetStats(VideoStats& out) const
{
    out = VideoStats{};
    // The records present: after a failed read the header's count can be larger.
    const int frames = m_nFrameCount <= 0 ? 0
                       : static_cast<std::size_t>(m_nFrameCount) < m_pTables->frames.Size()
                           ? m_nFrameCount
                           : static_cast<int>(m_pTables->frames.Size());
    if (frames <= 0)
        return;

    // In 64 bits: the body of a video over 2 GiB overflows 32.
    out.avgBytesPerFrame = static_cast<double>(GetBodySize() / m_nFrameCount);

    // The typical interval: the intervals between frames 0 .. F - 2 (the last
    // one is left out), sorted, taken at position F / 2. Videos of up to four
    // frames have no value there; they take the median of all their F - 1
    // intervals instead, and a single frame has none (0).
    std::vector<double> intervals;
    try
    {
        intervals.reserve(static_cast<std::size_t>(frames));
    }
    catch (const std::bad_alloc&)
    {
        return;
    }
    const bool shortVideo = frames < 5;
    const int end = shortVideo ? frames : frames - 1;
    for (int i = 1; i < end; ++i)
        intervals.push_back(static_cast<double>(GetFrameTime(i) - GetFrameTime(i - 1)));
    const std::size_t position =
        shortVideo ? intervals.size() / 2 : static_cast<std::size_t>(frames / 2);
    if (position >= intervals.size())
        return;
    std::nth_element(intervals.begin(), intervals.begin() + static_cast<std::ptrdiff_t>(position),
                     intervals.end());
    const double m = intervals[position];
    out.medianFps = m == 0 ? 0 : 1 / m;
}
