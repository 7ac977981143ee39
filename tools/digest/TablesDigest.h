#pragma once

#include "video/Video.h"

#include <cstdint>

// FNV-1a over a video's frame records (roots and palettes) and every node's
// words: equal for two encodings only if they built the same tables. The
// benchmarks compare it across builds, the tests against the value the
// encoder has always given.
inline std::uint32_t TablesDigest(const CVideo& video)
{
    std::uint32_t h = 2166136261u;
    const auto add = [&h](std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i, v >>= 8)
            h = (h ^ (v & 0xFFu)) * 16777619u;
    };
    for (int i = 0; i < video.GetFrameCount(); ++i)
    {
        add(video.GetFrameRecord(i)->root);
        add(static_cast<std::uint32_t>(video.GetFrameRecord(i)->palette));
    }
    for (int i = 0; i < video.GetNodeCount(); ++i)
        for (std::uint32_t w : video.GetNode(static_cast<std::uint32_t>(i))->w)
            add(w);
    return h;
}
