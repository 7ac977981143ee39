// trellon verify: checks what the decoder tolerates but a sound file never
// holds. Every frame's root and palette index lies inside the tables; every
// node used as an inner node has children below its own index, or 0 (node 0
// may be a leaf and, when its words are all 0, also the square of four node 0
// leaves); the file is exactly as long as its header says, and its counts are
// not negative. Time stamps that are not numbers, infinite, negative or
// running backwards are reported as warnings: such a file plays, but not as
// recorded. The exit status is 0 only when nothing at all was found.

#include "cli/Commands.h"
#include "sound/SoundCodec.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_set>
#include <vector>

namespace
{
std::string Str(long long v)
{
    return std::to_string(v);
}

// The header's three counts as the file holds them; the reader takes a
// negative count as 0, which hides it.
bool ReadCounts(const std::string& path, std::int32_t counts[3])
{
    std::string reason;
    std::FILE* file = OpenRegularFile(path, reason);
    if (file == nullptr)
        return false;
    std::uint8_t header[32];
    const bool ok = std::fread(header, 1, sizeof(header), file) == sizeof(header);
    std::fclose(file);
    if (ok)
        std::memcpy(counts, header + 20, 3 * sizeof(std::int32_t));
    return ok;
}

// Warnings about frame times; at most kMaxTimeWarnings are printed.
constexpr int kMaxTimeWarnings = 10;

int CheckTimes(const CVideo& video, const std::string& path)
{
    int found = 0;
    const auto warn = [&](int frame, const std::string& what)
    {
        if (++found <= kMaxTimeWarnings)
            std::fprintf(stderr, "trellon: %s: warning: frame %d: %s\n", path.c_str(), frame + 1,
                         what.c_str());
    };
    float previous = 0;
    for (int f = 0; f < video.GetFrameCount(); ++f)
    {
        const float time = video.GetFrameTime(f);
        char text[64];
        std::snprintf(text, sizeof(text), "%g", static_cast<double>(time));
        if (std::isnan(time))
            warn(f, "time stamp is not a number");
        else if (std::isinf(time))
            warn(f, std::string("time stamp is ") + text);
        else if (time < 0)
            warn(f, std::string("time stamp ") + text + " is negative");
        else if (f > 0 && std::isfinite(previous) && time < previous)
        {
            char before[64];
            std::snprintf(before, sizeof(before), "%g", static_cast<double>(previous));
            warn(f, std::string("time stamp ") + text + " is below the previous frame's " + before);
        }
        previous = time;
    }
    if (found > kMaxTimeWarnings)
        std::fprintf(stderr, "trellon: %s: warning: %d more frames with such time stamps\n",
                     path.c_str(), found - kMaxTimeWarnings);
    return found;
}

// The header's counts and the file's size against what the reader took in.
// An empty text, or why the file is not sound.
std::string CheckHeader(const CVideo& video, const std::string& path)
{
    std::int32_t counts[3] = {};
    if (!ReadCounts(path, counts))
        return "cannot read the header of " + path;
    const char* const countNames[3] = {"frame", "node", "palette"};
    for (int c = 0; c < 3; ++c)
        if (counts[c] < 0)
            return path + ": the header's " + countNames[c] + " count " + Str(counts[c]) +
                   " is negative";

    std::error_code ec;
    const auto size = std::filesystem::file_size(Utf8Path(path), ec);
    const std::int64_t expected =
        8 + video.GetBodySize() + static_cast<std::int64_t>(SoundSectionBytes(video.GetSound()));
    if (ec)
        return "cannot read the size of " + path;
    if (static_cast<std::int64_t>(size) != expected)
        return path + ": file is " + Str(static_cast<long long>(size)) +
               " bytes, " +
               (video.GetSound().Empty() ? "its header promises " : "its header and sound promise ") +
               Str(expected);
    return {};
}

// The sound section as read (its checksums and counts), and every block of
// it decoded. An empty text, or the first fault found.
std::string CheckSound(const CVideo& video, const std::string& path)
{
    if (!video.GetSoundProblem().empty())
        return path + ": the sound section: " + video.GetSoundProblem();
    const CSoundTrack& sound = video.GetSound();
    std::vector<std::int16_t> samples;
    std::string error;
    for (std::size_t b = 0; b < sound.BlockCount(); ++b)
        if (!DecodeSoundBlock(sound.Block(b), sound.Rate(), sound.Channels(), samples, error))
            return path + ": sound block " + Str(static_cast<long long>(b + 1)) + " of " +
                   Str(static_cast<long long>(sound.BlockCount())) + ": " + error;
    return {};
}

// Every frame's root and palette, and every node the frames reach, against
// the tables. An empty text, or the first fault found.
//
// The walk follows squares by position, because a quadrant outside the
// picture holds 0 by convention and is never decoded. What it meets below a
// node depends only on the node, its level and which of the picture's edges
// cut the square, so each such combination is walked once: squares wholly
// inside are marked per node and level, the few that an edge cuts in a set.
class CTreeCheck
{
public:
    CTreeCheck(const CVideo& video, const std::string& path)
        : m_video(video), m_strPath(path), m_nWidth(video.GetWidth()), m_nHeight(video.GetHeight()),
          m_insideSeen(static_cast<std::size_t>(video.GetNodeCount()), 0)
    {
        // Levels: 0 for leaves, up to the root's level.
        while ((4 << m_nRootLevel) < video.GetTreeSize())
            ++m_nRootLevel;
    }

    std::string CheckFrame(int f)
    {
        const std::int64_t nodes = m_video.GetNodeCount(), palettes = m_video.GetPaletteCount();
        const FrameRecord* record = m_video.GetFrameRecord(f);
        if (record->root >= static_cast<std::uint64_t>(nodes))
            return m_strPath + ": frame " + Str(f + 1) + ": root " + Str(record->root) +
                   " is not below the node count " + Str(nodes);
        if (record->palette < 0 || record->palette >= palettes)
            return m_strPath + ": frame " + Str(f + 1) + ": palette " + Str(record->palette) +
                   " is not below the palette count " + Str(palettes);
        m_stack.push_back({record->root, m_nRootLevel, 0, 0});
        while (!m_stack.empty())
        {
            const Pending item = m_stack.back();
            m_stack.pop_back();
            if (item.level == 0 || item.x >= m_nWidth || item.y >= m_nHeight || WasWalked(item))
                continue;
            std::string fault = PushChildren(item, f);
            if (!fault.empty())
                return fault;
        }
        return {};
    }

private:
    struct Pending
    {
        std::uint32_t node;
        int level, x, y;
    };

    // Marks the square walked; true when it was already.
    bool WasWalked(const Pending& item)
    {
        const int side = 4 << item.level;
        const unsigned cut =
            (item.x + side > m_nWidth ? 1u : 0u) | (item.y + side > m_nHeight ? 2u : 0u);
        if (cut != 0)
            return !m_edgeSeen
                        .insert(std::uint64_t{item.node} << 8 |
                                static_cast<unsigned>(item.level) << 2 | cut)
                        .second;
        std::uint16_t& seen = m_insideSeen[item.node];
        const auto bit = static_cast<std::uint16_t>(1u << item.level);
        if ((seen & bit) != 0)
            return true;
        seen = static_cast<std::uint16_t>(seen | bit);
        return false;
    }

    // The quadrants of `item` inside the picture, each checked to lie below
    // its parent's index.
    std::string PushChildren(const Pending& item, int f)
    {
        const Node* node = m_video.GetNode(item.node);
        const int h = (4 << item.level) / 2;
        const int offsets[4][2] = {{0, 0}, {h, 0}, {0, h}, {h, h}};
        for (int q = 0; q < 4; ++q)
        {
            const std::uint32_t child = node->w[q];
            const int cx = item.x + offsets[q][0], cy = item.y + offsets[q][1];
            if (cx >= m_nWidth || cy >= m_nHeight)
                continue;
            if (child != 0 && child >= item.node)
                return m_strPath + ": node " + Str(item.node) + " (used in frame " + Str(f + 1) +
                       ") has child " + Str(child) + ", not below its own index";
            m_stack.push_back({child, item.level - 1, cx, cy});
        }
        return {};
    }

    const CVideo& m_video;
    const std::string& m_strPath;
    int m_nWidth = 0, m_nHeight = 0;
    int m_nRootLevel = 0;
    std::vector<std::uint16_t> m_insideSeen; // a bit per level, per node
    std::unordered_set<std::uint64_t> m_edgeSeen;
    std::vector<Pending> m_stack;
};
} // namespace

int RunVerify(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return UsageError("verify takes one FILE");
    const std::string& path = args[0];
    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, path, error))
        return Fail(OneLine(error));
    if (const std::string fault = CheckHeader(video, path); !fault.empty() &&
                                                            video.GetSoundProblem().empty())
        return Fail(fault);
    if (const std::string fault = CheckSound(video, path); !fault.empty())
        return Fail(fault);

    CTreeCheck tree(video, path);
    for (int f = 0; f < video.GetFrameCount(); ++f)
        if (const std::string fault = tree.CheckFrame(f); !fault.empty())
            return Fail(fault);
    const int timeWarnings = CheckTimes(video, path);
    if (timeWarnings > 0)
        return Fail(path + ": " + Str(timeWarnings) +
                    (timeWarnings == 1 ? " frame has" : " frames have") +
                    " a bad time stamp; the tables are sound");
    std::string sound;
    if (!video.GetSound().Empty())
    {
        char text[64];
        std::snprintf(text, sizeof text, ", %.3f s of sound", video.GetSound().Seconds());
        sound = text;
    }
    std::printf("%s: ok, %lld frames, %lld nodes, %lld palettes%s\n", path.c_str(),
                static_cast<long long>(video.GetFrameCount()),
                static_cast<long long>(video.GetNodeCount()),
                static_cast<long long>(video.GetPaletteCount()), sound.c_str());
    return 0;
}
