#include "TestPictures.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testpics;

namespace
{
void Record(CVideo& video, int width, int height, int frames)
{
    ASSERT_EQ(video.SetGeometry(width, width, height, 0, 0), 1);
    for (int k = 0; k < frames; ++k)
    {
        auto picture = Gradient(width, height, k / 3); // three frames each
        picture[static_cast<std::size_t>(k)] = 200;    // and a dot that moves
        const auto palette = MakePalette(static_cast<std::uint8_t>(k / 5));
        ASSERT_EQ(video.AddFrame(static_cast<std::uint32_t>(k), palette.data(), picture.data()),
                  AF_ADDED);
        video.SetFrameTime(k, 0.5f * static_cast<float>(k) + 0.125f * static_cast<float>(k % 2));
    }
}

// A video whose frames carry exactly these time stamps.
void WithTimes(CVideo& video, const std::vector<float>& times)
{
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    const auto picture = Solid(640, 480, 1);
    const auto palette = MakePalette(0);
    for (std::size_t i = 0; i < times.size(); ++i)
    {
        ASSERT_EQ(video.AddFrame(0, palette.data(), picture.data()), AF_ADDED);
        video.SetFrameTime(static_cast<int>(i), times[i]);
    }
}
} // namespace

TEST(VideoExtract, WholeRangeRebuildsIdenticalTables)
{
    CVideo source, copy;
    Record(source, 96, 64, 30);
    ASSERT_EQ(source.ExtractTo(0, source.GetFrameCount() - 1, copy), 1);
    ASSERT_EQ(copy.GetFrameCount(), 30);
    ASSERT_EQ(copy.GetNodeCount(), source.GetNodeCount());
    ASSERT_EQ(copy.GetPaletteCount(), source.GetPaletteCount());
    for (int i = 0; i < 30; ++i)
    {
        EXPECT_EQ(std::memcmp(copy.GetFrameRecord(i), source.GetFrameRecord(i), 16), 0) << i;
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(source.GetNodeCount()); ++i)
        ASSERT_TRUE(*copy.GetNode(i) == *source.GetNode(i)) << i;
    EXPECT_TRUE(copy.IsAppendable());
    EXPECT_FALSE(copy.IsSaved());
}

TEST(VideoExtract, FragmentTakesItsTablesAtOnce)
{
    // Noise frames: every leaf new, so the source's dictionary grows many
    // times over; the fragment knows its size before its first frame.
    CVideo source;
    ASSERT_EQ(source.SetGeometry(320, 320, 240, 0, 0), 1);
    const auto palette = MakePalette(1);
    std::vector<std::vector<std::uint8_t>> pictures;
    for (std::uint32_t k = 0; k < 24; ++k)
    {
        pictures.push_back(Noise(320, 240, k));
        ASSERT_EQ(source.AddFrame(0, palette.data(), pictures.back().data()), AF_ADDED);
    }
    ASSERT_GE(source.GetDictionaryStats().grows, 3u);

    for (const auto& [first, last] : {std::pair{0, 23}, std::pair{8, 15}})
    {
        CVideo fragment;
        ASSERT_EQ(source.ExtractTo(first, last, fragment), 1);
        EXPECT_EQ(fragment.GetDictionaryStats().grows, 0u) << first;
        ASSERT_EQ(fragment.GetFrameCount(), last - first + 1);
        std::vector<std::uint8_t> decoded(320 * 240);
        for (int i = 0; i < fragment.GetFrameCount(); ++i)
        {
            ASSERT_EQ(fragment.GetFrame(i, decoded.data(), false), 1);
            EXPECT_EQ(decoded, pictures[static_cast<std::size_t>(first + i)]) << first << " " << i;
        }
    }
}

TEST(VideoExtract, ClampsTheRangeAndRebasesTimes)
{
    CVideo source;
    Record(source, 32, 32, 10);
    {
        CVideo part;
        ASSERT_EQ(source.ExtractTo(-5, 3, part), 1);
        EXPECT_EQ(part.GetFrameCount(), 4);
    }
    {
        CVideo part;
        ASSERT_EQ(source.ExtractTo(7, 100, part), 1);
        ASSERT_EQ(part.GetFrameCount(), 3);
        EXPECT_EQ(part.GetFrameTime(0), 0.0f);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(part.GetFrameTime(k), source.GetFrameTime(7 + k) - source.GetFrameTime(7));
        std::vector<std::uint8_t> a(32 * 32), b(32 * 32);
        for (int k = 0; k < 3; ++k)
        {
            ASSERT_EQ(part.GetFrame(k, a.data(), true), 1);
            ASSERT_EQ(source.GetFrame(7 + k, b.data(), true), 1);
            EXPECT_EQ(a, b);
        }
        // Only what the fragment reaches is stored.
        EXPECT_LT(part.GetNodeCount(), source.GetNodeCount());
    }
    {
        CVideo part;
        ASSERT_EQ(source.ExtractTo(6, 5, part), 1);
        EXPECT_EQ(part.GetFrameCount(), 0);
        EXPECT_EQ(part.GetWidth(), 32);
        EXPECT_EQ(part.GetHeight(), 32);
    }
}

TEST(VideoExtract, PicturesLargerThanTheFixedScratchAreCopiedWhole)
{
    // 1024 x 768 needs more than the 512 KiB scratch picture.
    CVideo source, part;
    Record(source, 1024, 768, 3);
    ASSERT_EQ(source.ExtractTo(1, 2, part), 1);
    ASSERT_EQ(part.GetFrameCount(), 2);
    std::vector<std::uint8_t> a(1024 * 768), b(1024 * 768);
    ASSERT_EQ(part.GetFrame(1, a.data(), false), 1);
    ASSERT_EQ(source.GetFrame(2, b.data(), false), 1);
    EXPECT_EQ(a, b);
}

TEST(VideoExtract, FramesTheTargetDropsGetNoTimeStampOfOthers)
{
    // A loaded file whose middle frame has an all-zero palette and whose last
    // frame points at a missing palette.
    CVideo video;
    WithTimes(video, {0, 1, 2});
    const std::string path = TempPath("dropped.dk2");
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    auto bytes = ReadFileBytes(path);
    std::vector<std::uint8_t> zero(1024, 0);
    bytes.insert(bytes.end(), zero.begin(), zero.end()); // palette 1: all zero
    bytes[28] = 2;                                       // two palettes
    bytes[32 + 16 + 4] = 1;                              // frame 1 uses it
    bytes[32 + 32 + 4] = 7;                              // frame 2: no such palette
    WriteFileBytes(path, bytes);
    CVideo loaded, part;
    std::string error;
    ASSERT_EQ(LoadVideoFile(loaded, path, error), 1) << error;
    ASSERT_EQ(loaded.ExtractTo(0, 2, part), 1);
    ASSERT_EQ(part.GetFrameCount(), 1);
    EXPECT_EQ(part.GetFrameTime(0), 0.0f);
}

TEST(VideoExtract, FrameWithMissingNodesGivesTheSamePictureAsDisplay)
{
    // Frame 1's root lies outside the node table, frame 2's root has a child
    // outside it. The fragment must hold what decoding the source shows for
    // them, not frame 0's pixels left in the scratch picture.
    CVideo video;
    Record(video, 64, 48, 3);
    const std::string path = TempPath("missing-root.dk2");
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    auto bytes = ReadFileBytes(path);
    const auto put32 = [&](std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::uint32_t nodes = static_cast<std::uint32_t>(video.GetNodeCount());
    put32(32 + 16, nodes + 5);
    const std::uint32_t root2 = video.GetFrameRecord(2)->root;
    put32(32 + 16 * 3 + 16 * root2 + 4, 0xFFFFFFF0u); // its top-right quadrant
    WriteFileBytes(path, bytes);

    CVideo loaded, part;
    std::string error;
    ASSERT_EQ(LoadVideoFile(loaded, path, error), 1) << error;
    std::filesystem::remove(path);
    ASSERT_EQ(loaded.ExtractTo(0, 2, part), 1);
    ASSERT_EQ(part.GetFrameCount(), 3);
    for (int k = 1; k < 3; ++k)
    {
        std::vector<std::uint8_t> shown(64 * 48, 0xAA), copied(64 * 48, 0x55);
        ASSERT_EQ(loaded.GetFrame(k, shown.data(), false), 1);
        ASSERT_EQ(part.GetFrame(k, copied.data(), false), 1);
        EXPECT_EQ(copied, shown) << "frame " << k;
    }
    std::vector<std::uint8_t> black(64 * 48, 0xAA);
    loaded.GetFrame(1, black.data(), false);
    EXPECT_EQ(black, std::vector<std::uint8_t>(64 * 48, 0));
}

TEST(VideoExtract, ProgressIsReportedAndCanCancel)
{
    CVideo source, part;
    Record(source, 16, 16, 10);
    std::vector<int> seen;
    EXPECT_EQ(source.ExtractTo(2, 8, part,
                               [&](int done, int total)
                               {
                                   seen.push_back(done);
                                   EXPECT_EQ(total, 7);
                                   return done < 4;
                               }),
              0);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(part.GetFrameCount(), 4);
}

TEST(VideoStats, SixteenFramesASecondGiveMedian16)
{
    CVideo video;
    std::vector<float> times;
    for (int i = 0; i < 100; ++i)
        times.push_back(static_cast<float>(i) * 0.0625f);
    WithTimes(video, times);
    VideoStats stats;
    video.GetStats(stats);
    EXPECT_DOUBLE_EQ(stats.medianFps, 16.0);
    EXPECT_EQ(video.GetBodySize(), 2888);
    EXPECT_DOUBLE_EQ(stats.avgBytesPerFrame, 28.0); // 2888 / 100, truncated
}

TEST(VideoStats, LastIntervalIsLeftOutAndPositionIsHalfTheFrameCount)
{
    CVideo video;
    WithTimes(video, {0, 1, 2, 3, 10});
    VideoStats stats;
    video.GetStats(stats);
    EXPECT_DOUBLE_EQ(stats.medianFps, 1.0);

    // Sorted intervals 0.1 0.2 0.25 0.5 0.5 (the last, 2.0, left out); position 3.
    CVideo uneven;
    WithTimes(uneven, {0, 0.5f, 0.6f, 0.8f, 1.05f, 1.55f, 3.55f});
    uneven.GetStats(stats);
    EXPECT_NEAR(stats.medianFps, 2.0, 1e-5);
}

TEST(VideoStats, EqualTimesAndEmptyVideosGiveZero)
{
    VideoStats stats;
    CVideo same;
    WithTimes(same, {0, 0, 0, 0, 0, 0});
    same.GetStats(stats);
    EXPECT_EQ(stats.medianFps, 0.0);
    EXPECT_GT(stats.avgBytesPerFrame, 0.0);

    CVideo empty;
    empty.GetStats(stats);
    EXPECT_EQ(stats.medianFps, 0.0);
    EXPECT_EQ(stats.avgBytesPerFrame, 0.0);
}

TEST(VideoStats, ShortVideosTakeTheMedianOfAllTheirIntervals)
{
    VideoStats stats;
    CVideo one, two, three, four;
    WithTimes(one, {0});
    one.GetStats(stats);
    EXPECT_EQ(stats.medianFps, 0.0);
    WithTimes(two, {0, 0.25f});
    two.GetStats(stats);
    EXPECT_DOUBLE_EQ(stats.medianFps, 4.0);
    WithTimes(three, {0, 0.5f, 0.75f}); // intervals 0.25 0.5: position 1
    three.GetStats(stats);
    EXPECT_DOUBLE_EQ(stats.medianFps, 2.0);
    WithTimes(four, {0, 0.5f, 0.75f, 1.75f}); // 0.25 0.5 1.0: position 1
    four.GetStats(stats);
    EXPECT_DOUBLE_EQ(stats.medianFps, 2.0);
}
