// trellon verify: checks what the decoder tolerates but a sound file never
// holds. Every frame's root and palette index lies inside the tables; every
// node used as an inner node has children below its own index, or 0 (node 0
// may be a leaf and, when its words are all 0, also the square of four node 0
// leaves); the file is exactly as long as its header says, and its counts are
// not negative. Time stamps that are not numbers, infinite, negative or
// running backwards are reported as warnings: such a file plays, but not as
// recorded. The exit status is 0 only when nothing at all was found.

#include "cli/Commands.h"
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

    std::int32_t counts[3] = {};
    if (!ReadCounts(path, counts))
        return Fail("cannot read the header of " + path);
    const char* const countNames[3] = {"frame", "node", "palette"};
    for (int c = 0; c < 3; ++c)
        if (counts[c] < 0)
            return Fail(path + ": the header's " + countNames[c] + " count " + Str(counts[c]) +
                        " is negative");

    const std::int64_t frames = video.GetFrameCount(), nodes = video.GetNodeCount(),
                       palettes = video.GetPaletteCount();
    std::error_code ec;
    const auto size = std::filesystem::file_size(Utf8Path(path), ec);
    const std::int64_t expected = 8 + video.GetBodySize();
    if (ec)
        return Fail("cannot read the size of " + path);
    if (static_cast<std::int64_t>(size) != expected)
        return Fail(path + ": file is " + Str(static_cast<long long>(size)) +
                    " bytes, its header promises " + Str(expected));

    // Levels: 0 for leaves, up to the root's level.
    int rootLevel = 0;
    while ((4 << rootLevel) < video.GetTreeSize())
        ++rootLevel;
    const int width = video.GetWidth(), height = video.GetHeight();

    // The walk follows squares by position, because a quadrant outside the
    // picture holds 0 by convention and is never decoded. What it meets below
    // a node depends only on the node, its level and which of the picture's
    // edges cut the square, so each such combination is walked once: squares
    // wholly inside are marked per node and level, the few that an edge cuts
    // in a set.
    std::vector<std::uint16_t> insideSeen(static_cast<std::size_t>(nodes), 0);
    std::unordered_set<std::uint64_t> edgeSeen;
    struct Pending
    {
        std::uint32_t node;
        int level, x, y;
    };
    std::vector<Pending> stack;
    for (int f = 0; f < frames; ++f)
    {
        const FrameRecord* record = video.GetFrameRecord(f);
        if (record->root >= static_cast<std::uint64_t>(nodes))
            return Fail(path + ": frame " + Str(f + 1) + ": root " + Str(record->root) +
                        " is not below the node count " + Str(nodes));
        if (record->palette < 0 || record->palette >= palettes)
            return Fail(path + ": frame " + Str(f + 1) + ": palette " + Str(record->palette) +
                        " is not below the palette count " + Str(palettes));
        stack.push_back({record->root, rootLevel, 0, 0});
        while (!stack.empty())
        {
            const Pending item = stack.back();
            stack.pop_back();
            if (item.level == 0 || item.x >= width || item.y >= height)
                continue;
            const int side = 4 << item.level;
            const unsigned cut =
                (item.x + side > width ? 1u : 0u) | (item.y + side > height ? 2u : 0u);
            if (cut == 0)
            {
                std::uint16_t& seen = insideSeen[item.node];
                const auto bit = static_cast<std::uint16_t>(1u << item.level);
                if ((seen & bit) != 0)
                    continue;
                seen = static_cast<std::uint16_t>(seen | bit);
            }
            else if (!edgeSeen
                          .insert(std::uint64_t{item.node} << 8 |
                                  static_cast<unsigned>(item.level) << 2 | cut)
                          .second)
                continue;
            const Node* node = video.GetNode(item.node);
            const int h = side / 2;
            const int offsets[4][2] = {{0, 0}, {h, 0}, {0, h}, {h, h}};
            for (int q = 0; q < 4; ++q)
            {
                const std::uint32_t child = node->w[q];
                const int cx = item.x + offsets[q][0], cy = item.y + offsets[q][1];
                if (cx >= width || cy >= height)
                    continue;
                if (child != 0 && child >= item.node)
                    return Fail(path + ": node " + Str(item.node) + " (used in frame " +
                                Str(f + 1) + ") has child " + Str(child) +
                                ", not below its own index");
                stack.push_back({child, item.level - 1, cx, cy});
            }
        }
    }
    const int timeWarnings = CheckTimes(video, path);
    if (timeWarnings > 0)
        return Fail(path + ": " + Str(timeWarnings) +
                    (timeWarnings == 1 ? " frame has" : " frames have") +
                    " a bad time stamp; the tables are sound");
    std::printf("%s: ok, %lld frames, %lld nodes, %lld palettes\n", path.c_str(),
                static_cast<long long>(frames), static_cast<long long>(nodes),
                static_cast<long long>(palettes));
    return 0;
}
