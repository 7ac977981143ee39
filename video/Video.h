#pragma once

#include "video/DictionaryStats.h"
#include "video/Node.h"
#include "video/SoundTrack.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One frame's entry in the video: 16 bytes, written to files as they are.
struct FrameRecord
{
    std::uint32_t root;   // node index of the frame's root, a square of the tree size
    std::int32_t palette; // index in the palette table
    std::uint32_t cursor; // mouse pointer: x in the low 16 bits, y in the high 16 bits
    float time;           // seconds since the first frame of the recording
};
static_assert(sizeof(FrameRecord) == 16);

constexpr int kPaletteBytes = 1024;

// 256 entries of red, green, blue and a fourth byte, in the game's order.
struct Palette
{
    std::uint8_t bytes[kPaletteBytes];
};
static_assert(sizeof(Palette) == kPaletteBytes);

struct VideoStats
{
    double medianFps = 0;
    double avgBytesPerFrame = 0;
};

struct VideoTables;

// Results of CVideo::AddFrame.
enum AddFrameResult
{
    AF_NO_MEMORY = -1, // memory ran out; the video is exactly as before the call
    AF_SKIPPED = 0,    // nothing appended: the video is closed, has no picture
                       // size, or the palette was all zero
    AF_ADDED = 1,
};

// Pictures are at most this many pixels on a side (the game shows 640 x 480 up
// to 1920 x 1080); a larger size in a file or from a caller is refused.
constexpr int kMaxPictureSide = 8192;

// True for a picture size the codec can work with: both sides between 1 and
// kMaxPictureSide, and the larger one above 2 (a tree of side 4 at least).
bool IsValidPictureSize(int width, int height);

// The in-memory video. Every picture is cut into a quadtree of 4 x 4 leaves;
// every node (leaf or square of four sub-nodes) is stored once in the node
// table and found again through the block dictionary, so a block or sub-tree
// seen anywhere before costs nothing, and a repeated frame costs only its
// record. Every frame decodes on its own from its root.
//
// Appending allocates before it changes anything (see AddFrame), and the
// tables grow in chunks and the dictionary by incremental moves, so that an
// hour-long recording never stalls a frame on a large copy.
//
// On top of the dictionary the encoder remembers the previous frame's source
// pixels and node indices: a square whose pixels equal the previous frame's at
// the same place gets the previous frame's node for it without hashing. The
// dictionary would have returned exactly that node, so the tables are the same
// as without the shortcut, only built faster.
class CVideo
{
public:
    static constexpr int kVersion = 50;
    static constexpr std::size_t kScratchBytes = 0x80000;

    // Called by ExtractTo after each frame with (frames done, frames in all);
    // returning false cancels the extraction.
    using ProgressFn = std::function<bool(int, int)>;

    CVideo();
    virtual ~CVideo();
    CVideo(const CVideo&) = delete;
    CVideo& operator=(const CVideo&) = delete;

    // Stores the picture geometry and recomputes the tree size. Returns 0 and
    // changes nothing when the size is not IsValidPictureSize, the pitch is
    // below the width or an origin is negative, or when the video holds
    // frames and the size differs from theirs (pitch and origin may change).
    int SetGeometry(int width, int pitch, int height, int originX, int originY);
    void UpdateTreeSize();

    // Compresses one picture (rows m_nPitch bytes apart) and appends it.
    // Returns an AddFrameResult.
    int AddFrame(std::uint32_t cursor, const std::uint8_t* palette, const std::uint8_t* source);

    // Decodes frame `index` into `target` (m_nWidth x m_nHeight bytes, rows
    // m_nWidth apart). 0, target untouched, when the index is out of range.
    // Every pixel is written: a square whose node is missing from the table
    // (only a damaged file has one) comes out as 0, black.
    int GetFrame(int index, std::uint8_t* target, bool withCursor) const;
    void DrawCursorMarker(std::uint8_t* target, int index) const;
    int GetPalette(int index, std::uint8_t* target) const;
    float GetFrameTime(int index) const;
    void SetFrameTime(int index, float time);
    // After a pause: the time line moves on so that a frame added now comes
    // `gapSeconds` after the last one, and the paused time is not in it.
    void ResumeTimeLine(double gapSeconds);
    // The steady clock's reading at the time line's 0: when frame 0 was
    // taken, moved on by every pause. False before the first frame.
    bool GetTimeOrigin(std::chrono::steady_clock::time_point& origin) const;

    // The recording's sound (empty when it has none): saved after the last
    // palette, read back with the file. A file whose sound section does not
    // hold together loads without it; GetSoundProblem says why.
    CSoundTrack& GetSound() { return m_sound; }
    const CSoundTrack& GetSound() const { return m_sound; }
    const std::string& GetSoundProblem() const { return m_strSoundProblem; }

    // The file body: everything after the magic (VideoFile.cpp).
    int WriteBody(std::FILE* file);
    int ReadBody(std::string* error, std::FILE* file);

    // Copies frames first..last (inclusive, clamped to the video) into the
    // empty video `target`, encoding them afresh there. Returns 1, or 0 when
    // memory ran out or `progress` cancelled (the target then holds the
    // frames copied so far).
    int ExtractTo(int first, int last, CVideo& target, const ProgressFn& progress = {});
    void GetStats(VideoStats& out) const;

    int GetFrameCount() const { return m_nFrameCount; }
    int GetNodeCount() const { return m_nNodeCount; }
    int GetPaletteCount() const { return m_nPaletteCount; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetPitch() const { return m_nPitch; }
    int GetOriginX() const { return m_nOriginX; }
    int GetOriginY() const { return m_nOriginY; }
    int GetTreeSize() const { return m_nTreeSize; }
    bool IsSaved() const { return m_bSaved != 0; }
    bool IsAppendable() const { return m_bAppendable != 0; }
    void SetAppendable(bool appendable) { m_bAppendable = appendable ? 1 : 0; }
    // Undoes the saved flag of a WriteBody whose file could not be completed.
    void MarkUnsaved() { m_bSaved = 0; }

    // The body size of the file this video saves to: 24 + 16F + 16N + 1024P
    // (its sound section, SoundSectionBytes, comes after).
    std::int64_t GetBodySize() const;

    // Raw table access for tools that inspect a video. Null when out of range.
    const FrameRecord* GetFrameRecord(int index) const;
    const Node* GetNode(std::uint32_t index) const;
    const Palette* GetStoredPalette(int index) const;

    // Off: every square goes through the dictionary (the plain encoder), used
    // to check that the previous-frame shortcut builds identical tables.
    void SetReuseUnchanged(bool reuse) { m_bReuseUnchanged = reuse; }
    const DictionaryStats& GetDictionaryStats() const;
    void ResetDictionaryStats();
    // Bytes the node table and the dictionary hold, by their own count (the
    // node table's used records, the dictionary's written pages).
    std::size_t GetNodeStoreBytes() const;

    // Bytes of a picture buffer that decoding or encoding may touch: the
    // picture rounded up to whole leaves on both sides.
    static std::size_t PaddedPictureBytes(int width, int height);

private:
    std::uint32_t EncodeBlock(int x, int y, int side);
    std::uint32_t EncodeSquare(int x, int y, int level);
    void TakePicture(const std::uint8_t* source);
    // Index of a square in m_prevIndex and m_changed.
    std::size_t SquareCell(int x, int y, int level) const;
    void ListLeaves(int x, int y, int level);
    Node LeafAt(std::size_t offset) const; // the leaf at m_picture + offset
    void PrefetchLeaves(std::size_t next);
    void PrefetchNewSquare(int x, int y, int level);
    void DecodeBlock(std::uint32_t index, std::uint8_t* target, int x, int y, int side) const;
    void DecodeInside(std::uint32_t index, std::uint8_t* dst, int side, std::uint32_t limit) const;
    void DecodeSixteen(const Node& node, std::uint8_t* dst, std::uint32_t limit) const;
    void FillMissing(std::uint8_t* dst, int columns, int rows) const;
    std::uint32_t NodeLimit() const; // indices below this can be read
    bool PrepareEncoder();
    // The distinct nodes frames first..last use (ExtractTo's estimate of the
    // fragment's nodes); 0 when memory for the count ran out.
    std::size_t CountNodesUsed(int first, int last) const;
    // Makes room in the node table and dictionary for `count` new nodes, as
    // far as memory allows.
    void ReserveNodes(std::size_t count);
    int ChoosePalette(const std::uint8_t* palette, bool& append) const;

    std::int32_t m_bAppendable = 1;
    std::int32_t m_bSaved = 1;
    std::int32_t m_nFrameCount = 0;
    std::int32_t m_nPitch = 0;
    std::int32_t m_nOriginX = 0;
    std::int32_t m_nOriginY = 0;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    std::int32_t m_nTreeSize = 1;
    std::int32_t m_nVersion = kVersion;
    std::unique_ptr<std::uint8_t[]> m_pScratch; // the picture ExtractTo decodes into
    std::size_t m_nScratchBytes = 0;
    // The node, palette and frame tables and the block dictionary, which are
    // the video's own business (private/VideoTables.h).
    std::unique_ptr<VideoTables> m_pTables;
    std::int32_t m_nNodeCount = 0;
    std::int32_t m_nPaletteCount = 0;
    std::int64_t m_startCount = 0;
    std::int64_t m_frequency = 0;
    CSoundTrack m_sound;
    std::string m_strSoundProblem;

    // Encoder state. The picture being encoded is first copied into
    // m_picture (rows m_nPictureStride apart, padded with 0 to whole leaves),
    // which between frames holds the previous frame; the copy compares as it
    // goes and marks every leaf whose pixels changed, and the marks are
    // gathered up the levels of the tree. The walk then takes the previous
    // frame's node for every square without a mark. Per square of every
    // level (level 0 holds the leaves), in one array each: m_prevIndex, the
    // square's node in the previous frame, and m_changed, its mark.
    bool m_bReuseUnchanged = true;
    bool m_bEncoderReady = false;  // caches sized for the current geometry
    bool m_bPreviousValid = false; // m_picture and m_prevIndex hold the last frame
    int m_nPictureStride = 0;
    std::vector<std::uint8_t> m_picture;
    std::vector<std::uint32_t> m_prevIndex;
    std::vector<std::uint8_t> m_changed;
    std::vector<std::size_t> m_levelOffset; // start of each level in the two arrays
    std::vector<int> m_levelColumns;        // squares per row at each level
    std::vector<int> m_levelRows;           // rows of squares at each level
    // The leaves the walk will look up, in its order, as offsets into
    // m_picture: m_nLeafCount of them this frame, m_nLeafCursor looked up so
    // far. The walk asks the dictionary for those a little ahead of it.
    std::vector<std::uint32_t> m_leafOrder;
    std::size_t m_nLeafCount = 0;
    std::size_t m_nLeafCursor = 0;
    bool m_bPrefetch = false; // the list is made and its buckets asked for
    // Whether the inner nodes' buckets are asked for as if every node of
    // their squares were new (PrefetchNewSquare): this frame, and the next,
    // which does when most of this frame's nodes were new.
    bool m_bPredictNew = false;
    bool m_bPredictNext = false;
    // Whether this frame was compared with the previous one, whether the
    // next will be, the leaves looked up, and those whose lookup gave the
    // node they had.
    bool m_bCompared = false;
    bool m_bCompareNext = true;
    std::size_t m_nChangedLeaves = 0;
    std::size_t m_nLeavesKept = 0;
};
