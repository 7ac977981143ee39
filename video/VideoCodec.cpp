// The quadtree codec: the encoder's walk over the picture with its block
// dictionary and previous-frame marks, and the decoder.

#include "private/VideoTables.h"
#include "video/Video.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

static_assert(std::endian::native == std::endian::little,
              "nodes, records and files share one little-endian layout");

namespace
{
// Four (or eight) pixels of a row as one word in the host's order, which the
// assertion above makes the leftmost pixel the lowest byte: the encoder
// compares and copies rows a word at a time and packs leaves from such words.
// Pixels, not the fields of a file (base/ByteOrder.h reads those).
std::uint32_t LoadPixels4(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t LoadPixels8(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

void StorePixels4(std::uint8_t* p, std::uint32_t v)
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
} // namespace

// Sizes the encoder's picture copy and per-square arrays for the current
// geometry; false when memory ran out (nothing else has changed then).
bool CVideo::PrepareEncoder()
{
    if (m_bEncoderReady)
        return true;
    try
    {
        std::vector<std::size_t> offsets;
        std::vector<int> columns, rows;
        std::size_t total = 0;
        for (std::int64_t side = 4; side <= m_nTreeSize; side *= 2)
        {
            const std::int64_t c = (m_nWidth + side - 1) / side;
            const std::int64_t r = (m_nHeight + side - 1) / side;
            offsets.push_back(total);
            columns.push_back(static_cast<int>(c));
            rows.push_back(static_cast<int>(r));
            total += static_cast<std::size_t>(c * r);
        }
        std::vector<std::uint8_t> picture(PaddedPictureBytes(m_nWidth, m_nHeight));
        std::vector<std::uint32_t> prevIndex(total);
        std::vector<std::uint8_t> changed(total);
        std::vector<std::uint32_t> leafOrder(static_cast<std::size_t>(columns[0]) *
                                             static_cast<std::size_t>(rows[0]));
        m_leafOrder.swap(leafOrder);
        m_picture.swap(picture);
        m_prevIndex.swap(prevIndex);
        m_changed.swap(changed);
        m_levelOffset.swap(offsets);
        m_levelColumns.swap(columns);
        m_levelRows.swap(rows);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    m_nPictureStride = (m_nWidth + 3) & ~3;
    m_bPreviousValid = false;
    m_bCompareNext = true;
    m_bPredictNext = false;
    m_bEncoderReady = true;
    return true;
}

// Copies the source picture into m_picture in one pass along its rows, marks
// the leaves whose pixels differ from the previous frame, and gathers the
// marks up the tree: a square is marked when any of its quadrants is. Without
// a previous frame (or with the shortcut off) every square is marked.
void CVideo::TakePicture(const std::uint8_t* source)
{
    const bool compare = m_bReuseUnchanged && m_bPreviousValid && m_bCompareNext;
    m_bCompared = compare;
    std::fill(m_changed.begin(), m_changed.end(), compare ? 0 : 1);

    const std::size_t stride = static_cast<std::size_t>(m_nPictureStride);
    const std::size_t leafColumns = static_cast<std::size_t>(m_levelColumns[0]);
    const int fullLeaves = m_nWidth / 4;
    const std::size_t tail = static_cast<std::size_t>(m_nWidth % 4);
    for (int y = 0; y < m_nHeight; ++y)
    {
        const std::uint8_t* src = source + static_cast<std::ptrdiff_t>(y) * m_nPitch;
        std::uint8_t* dst = m_picture.data() + static_cast<std::size_t>(y) * stride;
        std::uint8_t* marks = m_changed.data() + static_cast<std::size_t>(y / 4) * leafColumns;
        if (!compare)
        {
            std::memcpy(dst, src, static_cast<std::size_t>(m_nWidth));
            continue;
        }
        int c = 0;
        for (; c + 2 <= fullLeaves; c += 2)
        {
            const std::uint64_t now = LoadPixels8(src + 4 * c), before = LoadPixels8(dst + 4 * c);
            if (now != before)
            {
                std::memcpy(dst + 4 * c, &now, 8);
                const std::uint64_t diff = now ^ before;
                marks[c] |= static_cast<std::uint8_t>((diff & 0xFFFFFFFFu) != 0);
                marks[c + 1] |= static_cast<std::uint8_t>((diff >> 32) != 0);
            }
        }
        for (; c < fullLeaves; ++c)
        {
            const std::uint32_t now = LoadPixels4(src + 4 * c);
            if (now != LoadPixels4(dst + 4 * c))
            {
                StorePixels4(dst + 4 * c, now);
                marks[c] = 1;
            }
        }
        // The last leaf of a row whose width is not a multiple of 4: its
        // pixels past the edge stay 0 in the copy.
        if (tail != 0 && std::memcmp(dst + 4 * c, src + 4 * c, tail) != 0)
        {
            std::memcpy(dst + 4 * c, src + 4 * c, tail);
            marks[c] = 1;
        }
    }
    if (!compare)
        return;

    for (std::size_t level = 1; level < m_levelOffset.size(); ++level)
    {
        const std::uint8_t* below = m_changed.data() + m_levelOffset[level - 1];
        std::uint8_t* here = m_changed.data() + m_levelOffset[level];
        const int belowColumns = m_levelColumns[level - 1], belowRows = m_levelRows[level - 1];
        for (int r = 0; r < m_levelRows[level]; ++r)
            for (int c = 0; c < m_levelColumns[level]; ++c)
            {
                std::uint8_t mark = 0;
                for (int q = 0; q < 4; ++q)
                {
                    const int br = 2 * r + q / 2, bc = 2 * c + q % 2;
                    if (br < belowRows && bc < belowColumns)
                        mark |= below[br * belowColumns + bc];
                }
                here[r * m_levelColumns[level] + c] = mark;
            }
    }
}

namespace
{
// How far ahead of the walk, in leaves, the dictionary is asked for a leaf's
// bucket: a lookup that waits for memory takes about as long as a dozen that
// find theirs in the cache, so the leaves' lookups wait together. (Inner
// nodes are known only once their quadrants are: they are looked up as they
// come.)
constexpr std::size_t kBucketAhead = 16;
// Dictionaries smaller than this mostly sit in the cache, where the list and
// the requests cost more than they spare.
constexpr std::size_t kPrefetchFromBytes = std::size_t{4} << 20;
// One leaf in this many keeping its node makes the compare with the previous
// frame worth its pass.
constexpr std::size_t kKeptShare = 16;
} // namespace

std::uint32_t CVideo::EncodeBlock(int x, int y, int side)
{
    int level = 0;
    while ((4 << level) < side)
        ++level;
    const CBlockDictionary& dictionary = m_pTables->dictionary;
    m_nLeafCount = 0;
    m_nLeafCursor = 0;
    m_bPrefetch = dictionary.HeldBytes() >= kPrefetchFromBytes;
    if (m_bPrefetch)
    {
        ListLeaves(x, y, level);
        for (std::size_t i = 0; i < kBucketAhead && i < m_nLeafCount; ++i)
            dictionary.Prefetch(LeafAt(m_leafOrder[i]));
    }
    m_bPredictNew = m_bPrefetch && m_bPredictNext;
    m_nLeavesKept = 0;
    m_nChangedLeaves = 0;
    const std::size_t nodesBefore = m_pTables->nodes.Size();
    const std::uint32_t root = EncodeSquare(x, y, level);
    // Three new nodes in four lookups or more (a leaf looked up came with a
    // third of an inner node): the next frame asks ahead for inner nodes.
    m_bPredictNext =
        m_nChangedLeaves > 0 && m_pTables->nodes.Size() - nodesBefore >= m_nChangedLeaves;
    // Where nearly every leaf changes (noise, a scroll of the whole picture)
    // the compare with the previous frame finds nothing to spare and costs a
    // pass over the picture and the marks: the next frame goes without it
    // while fewer than one leaf in 16 keeps its node. Without the compare the
    // lookups tell the same, as a leaf that kept its pixels finds its node
    // again. Either way the tables come out the same.
    const std::size_t leaves =
        static_cast<std::size_t>(m_levelColumns[0]) * static_cast<std::size_t>(m_levelRows[0]);
    const std::size_t kept = m_bCompared ? leaves - m_nChangedLeaves : m_nLeavesKept;
    m_bCompareNext = !m_bPreviousValid || kept * kKeptShare >= leaves;
    m_bPreviousValid = true;
    return root;
}

std::size_t CVideo::SquareCell(int x, int y, int level) const
{
    const std::size_t lv = static_cast<std::size_t>(level);
    const int shift = level + 2; // the side is 4 << level
    return m_levelOffset[lv] +
           static_cast<std::size_t>(y >> shift) * static_cast<std::size_t>(m_levelColumns[lv]) +
           static_cast<std::size_t>(x >> shift);
}

// The leaves EncodeSquare will look up, in the order it will: it skips the
// same squares.
void CVideo::ListLeaves(int x, int y, int level)
{
    if (x >= m_nWidth || y >= m_nHeight || !m_changed[SquareCell(x, y, level)])
        return;
    if (level == 0)
    {
        m_leafOrder[m_nLeafCount++] = static_cast<std::uint32_t>(
            static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nPictureStride) +
            static_cast<std::size_t>(x));
        return;
    }
    const int h = 2 << level;
    ListLeaves(x, y, level - 1);
    ListLeaves(x + h, y, level - 1);
    ListLeaves(x, y + h, level - 1);
    ListLeaves(x + h, y + h, level - 1);
}

Node CVideo::LeafAt(std::size_t offset) const
{
    const std::size_t stride = static_cast<std::size_t>(m_nPictureStride);
    const std::uint8_t* p = m_picture.data() + offset;
    return PackLeaf(LoadPixels4(p), LoadPixels4(p + stride), LoadPixels4(p + 2 * stride),
                    LoadPixels4(p + 3 * stride));
}

// Called as the walk looks up leaf `next` of the list. Hints only: should
// the walk and the list ever part, lookups just wait longer.
void CVideo::PrefetchLeaves(std::size_t next)
{
    if (next + kBucketAhead < m_nLeafCount)
        m_pTables->dictionary.Prefetch(LeafAt(m_leafOrder[next + kBucketAhead]));
}

// Where nearly every node is new (noise), the nodes of a square get the
// next indices in the walk's order, its own last: a square one level down
// holds (4^level - 1) / 3 nodes, so quadrant q's node will be the count so
// far plus (q + 1) times that, less one. The key of an inner node is then
// known before its quadrants are looked up, and its bucket is asked for while
// they are, instead of after them. Squares with a quadrant outside the
// picture differ (that quadrant is 0). A hint only: where some node of the
// square is found, the request was for nothing.
void CVideo::PrefetchNewSquare(int x, int y, int level)
{
    const int last = (4 << level) - 4; // the last leaf's offset in the square
    if (x + last >= m_nWidth || y + last >= m_nHeight)
        return;
    const std::uint32_t below = ((std::uint32_t{1} << (2 * level)) - 1) / 3;
    const auto next = static_cast<std::uint32_t>(m_pTables->nodes.Size());
    const Node key{
        {next + below - 1, next + 2 * below - 1, next + 3 * below - 1, next + 4 * below - 1}};
    m_pTables->dictionary.Prefetch(key);
}

std::uint32_t CVideo::EncodeSquare(int x, int y, int level)
{
    if (x >= m_nWidth || y >= m_nHeight)
        return 0; // outside the picture

    const std::size_t cell = SquareCell(x, y, level);
    // Same pixels as in the previous frame: the dictionary would give the
    // previous frame's node, so take it without asking.
    if (!m_changed[cell])
        return m_prevIndex[cell];

    Node node;
    if (level == 0)
    {
        const std::size_t stride = static_cast<std::size_t>(m_nPictureStride);
        node = LeafAt(static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x));
        ++m_nChangedLeaves;
        if (m_bPrefetch)
            PrefetchLeaves(m_nLeafCursor++);
    }
    else
    {
        if (m_bPredictNew)
            PrefetchNewSquare(x, y, level);
        // Quadrants in this order fix the numbering of new nodes.
        const int h = 2 << level;
        node.w[0] = EncodeSquare(x, y, level - 1);
        node.w[1] = EncodeSquare(x + h, y, level - 1);
        node.w[2] = EncodeSquare(x, y + h, level - 1);
        node.w[3] = EncodeSquare(x + h, y + h, level - 1);
    }

    NodeTable& nodes = m_pTables->nodes;
    const std::uint32_t newIndex = static_cast<std::uint32_t>(nodes.Size());
    std::uint32_t index = m_pTables->dictionary.FindOrInsert(node, newIndex, nodes);
    if (index == CBlockDictionary::kNotFound)
    {
        nodes.Append(node);
        ++m_nNodeCount;
        index = newIndex;
    }
    // Counted without a branch, which would guess wrong on every other leaf
    // of a scroll; without a previous frame the count is not used.
    if (level == 0)
        m_nLeavesKept += static_cast<std::size_t>(m_prevIndex[cell] == index);
    m_prevIndex[cell] = index;
    return index;
}

void CVideo::DecodeBlock(std::uint32_t index, std::uint8_t* target, int x, int y, int side) const
{
    if (x >= m_nWidth || y >= m_nHeight)
        return;
    // Checked against the table itself: after a short read the header's count
    // can promise more nodes than are present.
    const std::uint32_t limit = NodeLimit();
    if (index >= limit)
    {
        FillMissing(target + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nWidth) +
                        static_cast<std::size_t>(x),
                    std::min(side, m_nWidth - x), std::min(side, m_nHeight - y));
        return;
    }
    if (side >= 4 && x + side <= m_nWidth && y + side <= m_nHeight)
    {
        DecodeInside(index,
                     target + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nWidth) +
                         static_cast<std::size_t>(x),
                     side, limit);
        return;
    }
    const Node& node = m_pTables->nodes[index];
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

    // A leaf on the right or bottom edge writes only its pixels inside the picture.
    std::uint32_t rows[4];
    UnpackLeaf(node, rows);
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    std::uint8_t* dst = target + static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
    const std::size_t cols = static_cast<std::size_t>(std::min(4, m_nWidth - x));
    const int visibleRows = std::min(4, m_nHeight - y);
    for (int row = 0; row < visibleRows; ++row)
    {
        std::uint8_t bytes[4];
        StorePixels4(bytes, rows[row]);
        std::memcpy(dst + static_cast<std::size_t>(row) * width, bytes, cols);
    }
}

std::uint32_t CVideo::NodeLimit() const
{
    const std::size_t present = m_pTables->nodes.Size();
    const std::uint32_t counted = static_cast<std::uint32_t>(m_nNodeCount);
    return present < counted ? static_cast<std::uint32_t>(present) : counted;
}

// A square wholly inside the picture: no edge checks on the way down, and
// the four children are fetched ahead so that their loads overlap.
void CVideo::DecodeInside(std::uint32_t index, std::uint8_t* dst, int side,
                          std::uint32_t limit) const
{
    const NodeTable& nodes = m_pTables->nodes;
    const Node& node = nodes[index];
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    if (side == 4)
    {
        std::uint32_t rows[4];
        UnpackLeaf(node, rows);
        for (std::size_t row = 0; row < 4; ++row)
            StorePixels4(dst + row * width, rows[row]);
        return;
    }
    if (side == 16)
    {
        DecodeSixteen(node, dst, limit);
        return;
    }
    for (std::uint32_t child : node.w)
        if (child < limit)
            __builtin_prefetch(&nodes[child]);
    const int h = side / 2;
    const std::size_t down = static_cast<std::size_t>(h) * width,
                      right = static_cast<std::size_t>(h);
    std::uint8_t* const quadrants[4] = {dst, dst + right, dst + down, dst + down + right};
    for (int q = 0; q < 4; ++q)
        if (node.w[q] < limit)
            DecodeInside(node.w[q], quadrants[q], h, limit);
        else
            FillMissing(quadrants[q], h, h);
}

// A square whose node is not in the table: black, so that a damaged frame
// shows the same picture wherever it is decoded.
void CVideo::FillMissing(std::uint8_t* dst, int columns, int rows) const
{
    for (int row = 0; row < rows; ++row)
        std::memset(dst + static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nWidth), 0,
                    static_cast<std::size_t>(columns));
}

// A 16 x 16 square inside the picture: its four 8 x 8 quadrants are read
// first and all sixteen leaves fetched ahead, then written out.
void CVideo::DecodeSixteen(const Node& node, std::uint8_t* dst, std::uint32_t limit) const
{
    const NodeTable& nodes = m_pTables->nodes;
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    const Node* quadrants[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int q = 0; q < 4; ++q)
        if (node.w[q] < limit)
        {
            quadrants[q] = &nodes[node.w[q]];
            for (std::uint32_t leaf : quadrants[q]->w)
                if (leaf < limit)
                    __builtin_prefetch(&nodes[leaf]);
        }
    for (int q = 0; q < 4; ++q)
    {
        std::uint8_t* base =
            dst + static_cast<std::size_t>(q / 2) * 8 * width + static_cast<std::size_t>(q % 2) * 8;
        if (quadrants[q] == nullptr)
        {
            FillMissing(base, 8, 8);
            continue;
        }
        for (int l = 0; l < 4; ++l)
        {
            const std::uint32_t leaf = quadrants[q]->w[l];
            std::uint8_t* out = base + static_cast<std::size_t>(l / 2) * 4 * width +
                                static_cast<std::size_t>(l % 2) * 4;
            if (leaf >= limit)
            {
                FillMissing(out, 4, 4);
                continue;
            }
            std::uint32_t rows[4];
            UnpackLeaf(nodes[leaf], rows);
            for (std::size_t row = 0; row < 4; ++row)
                StorePixels4(out + row * width, rows[row]);
        }
    }
}
