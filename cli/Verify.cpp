// trellon verify: checks what the decoder tolerates but a sound file never
// holds. Every frame's root and palette index lies inside the tables; every
// node used as an inner node has children below its own index, or 0 (node 0
// may be a leaf and, when its words are all 0, also the square of four node 0
// leaves); the file is exactly as long as its header says.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "Commands.h"
#include "Video.h"
#include "VideoFile.h"

namespace
{
std::string Str(long long v)
{
    return std::to_string(v);
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

    const std::int64_t frames = video.GetFrameCount(), nodes = video.GetNodeCount(),
                       palettes = video.GetPaletteCount();
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
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

    // Each node is examined once per level it is used at.
    std::vector<std::uint16_t> seenAtLevel(static_cast<std::size_t>(nodes), 0);
    struct Pending
    {
        std::uint32_t node;
        int level;
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
        stack.push_back({record->root, rootLevel});
        while (!stack.empty())
        {
            const Pending item = stack.back();
            stack.pop_back();
            std::uint16_t& seen = seenAtLevel[item.node];
            const auto bit = static_cast<std::uint16_t>(1u << item.level);
            if (item.level == 0 || (seen & bit) != 0)
                continue;
            seen = static_cast<std::uint16_t>(seen | bit);
            const Node* node = video.GetNode(item.node);
            for (std::uint32_t child : node->w)
            {
                if (child != 0 && child >= item.node)
                    return Fail(path + ": node " + Str(item.node) + " (used in frame " + Str(f + 1) +
                                ") has child " + Str(child) + ", not below its own index");
                stack.push_back({child, item.level - 1});
            }
        }
    }
    std::printf("%s: ok, %lld frames, %lld nodes, %lld palettes\n", path.c_str(),
                static_cast<long long>(frames), static_cast<long long>(nodes),
                static_cast<long long>(palettes));
    return 0;
}
