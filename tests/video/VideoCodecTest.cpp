#include "TestPictures.h"
#include "tools/digest/TablesDigest.h"
#include "video/Video.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace testpics;

namespace
{
const std::vector<std::uint8_t> kPalette = MakePalette(1);

std::vector<std::uint8_t> Decode(const CVideo& video, int index, bool withCursor = false)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(video.GetWidth()) *
                                      static_cast<std::size_t>(video.GetHeight()),
                                  0xEE);
    EXPECT_EQ(video.GetFrame(index, out.data(), withCursor), 1);
    return out;
}

void ExpectSameTables(const CVideo& a, const CVideo& b)
{
    ASSERT_EQ(a.GetFrameCount(), b.GetFrameCount());
    ASSERT_EQ(a.GetNodeCount(), b.GetNodeCount());
    ASSERT_EQ(a.GetPaletteCount(), b.GetPaletteCount());
    for (int i = 0; i < a.GetFrameCount(); ++i)
    {
        EXPECT_EQ(a.GetFrameRecord(i)->root, b.GetFrameRecord(i)->root) << "frame " << i;
        EXPECT_EQ(a.GetFrameRecord(i)->palette, b.GetFrameRecord(i)->palette) << "frame " << i;
        EXPECT_EQ(a.GetFrameRecord(i)->cursor, b.GetFrameRecord(i)->cursor) << "frame " << i;
    }
    for (int i = 0; i < a.GetNodeCount(); ++i)
        ASSERT_TRUE(*a.GetNode(static_cast<std::uint32_t>(i)) ==
                    *b.GetNode(static_cast<std::uint32_t>(i)))
            << "node " << i;
    for (int i = 0; i < a.GetPaletteCount(); ++i)
        EXPECT_EQ(std::memcmp(a.GetStoredPalette(i), b.GetStoredPalette(i), kPaletteBytes), 0);
}
} // namespace

TEST(VideoCodec, PacksLeafWordsInQuadrantRowOrder)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(4, 4, 4, 0, 0), 1);
    const std::uint8_t block[16] = {0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13,
                                    0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33};
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), block), AF_ADDED);
    ASSERT_EQ(video.GetNodeCount(), 1);
    const Node* leaf = video.GetNode(0);
    EXPECT_EQ(leaf->w[0], 0x01001110u);
    EXPECT_EQ(leaf->w[1], 0x03021312u);
    EXPECT_EQ(leaf->w[2], 0x21203130u);
    EXPECT_EQ(leaf->w[3], 0x23223332u);
    const auto decoded = Decode(video, 0);
    EXPECT_EQ(std::memcmp(decoded.data(), block, 16), 0);
}

TEST(VideoCodec, SingleColourFrameIsFifteenNodesWithRootFourteen)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    EXPECT_EQ(video.GetTreeSize(), 1024);
    const auto picture = Solid(640, 480, 7);
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetNodeCount(), 15);
    EXPECT_EQ(video.GetFrameRecord(0)->root, 14u);
    EXPECT_EQ(video.GetFrameTime(0), 0.0f);
    EXPECT_EQ(Decode(video, 0), picture);
}

TEST(VideoCodec, TreeSizeIsSmallestPowerOfTwoCoveringTheLargerSide)
{
    CVideo video;
    const int cases[][3] = {{640, 480, 1024}, {800, 600, 1024}, {1920, 1080, 2048}, {3, 1, 4},
                            {4, 4, 4},        {5, 3, 8},        {8192, 8192, 8192}};
    for (const auto& c : cases)
    {
        ASSERT_EQ(video.SetGeometry(c[0], c[0], c[1], 0, 0), 1);
        EXPECT_EQ(video.GetTreeSize(), c[2]) << c[0] << " x " << c[1];
    }
}

TEST(VideoCodec, RefusesGeometryTheCodecCannotCover)
{
    CVideo video;
    const int bad[][3] = {
        {2, 2, 2},   {1, 1, 1},       {0, 0, 480},     {640, 640, 0},
        {-4, -4, 4}, {640, 639, 480}, {8193, 8193, 4}, {0x7FFFFFFF, 0x7FFFFFFF, 480}};
    for (const auto& g : bad)
        EXPECT_EQ(video.SetGeometry(g[0], g[1], g[2], 0, 0), 0) << g[0] << " x " << g[2];
    EXPECT_EQ(video.SetGeometry(640, 640, 480, -1, 0), 0);
    // A video that never got a size takes no frames.
    const auto picture = Solid(4, 4, 1);
    EXPECT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_SKIPPED);
    EXPECT_EQ(video.GetFrameCount(), 0);
    EXPECT_TRUE(video.IsSaved());
}

TEST(VideoCodec, VideoHoldingFramesKeepsItsPictureSize)
{
    // A new size would re-read every frame held under it; only an empty
    // video follows one.
    CVideo video;
    ASSERT_EQ(video.SetGeometry(64, 64, 48, 0, 0), 1);
    ASSERT_EQ(video.SetGeometry(96, 96, 64, 0, 0), 1);
    const auto picture = Gradient(96, 64, 3);
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.SetGeometry(64, 64, 48, 0, 0), 0);
    EXPECT_EQ(video.SetGeometry(96, 96, 65, 0, 0), 0);
    EXPECT_EQ((std::pair{video.GetWidth(), video.GetHeight()}), (std::pair{96, 64}));
    std::vector<std::uint8_t> decoded(96 * 64);
    ASSERT_EQ(video.GetFrame(0, decoded.data(), false), 1);
    EXPECT_EQ(decoded, picture);
}

TEST(VideoCodec, RepeatedFrameAddsOnlyARecord)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    const auto picture = Gradient(640, 480, 3);
    ASSERT_EQ(video.AddFrame(0x00100020, kPalette.data(), picture.data()), AF_ADDED);
    const int nodes = video.GetNodeCount();
    ASSERT_EQ(video.AddFrame(0x00300040, kPalette.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetNodeCount(), nodes);
    EXPECT_EQ(video.GetPaletteCount(), 1);
    EXPECT_EQ(video.GetFrameRecord(0)->root, video.GetFrameRecord(1)->root);
    EXPECT_EQ(video.GetFrameRecord(1)->cursor, 0x00300040u);
    EXPECT_GE(video.GetFrameTime(1), video.GetFrameTime(0));
    EXPECT_FALSE(video.IsSaved());
}

TEST(VideoCodec, DecodesEveryPictureSizeExactlyWithoutTouchingOutside)
{
    // Buffers are exactly width x height, so a sanitizer build catches any
    // read or write past a picture whose sides are not multiples of 4.
    const int sizes[][2] = {{3, 1}, {1, 3},     {5, 5},     {13, 7},
                            {4, 9}, {641, 479}, {640, 480}, {97, 33}};
    for (const auto& size : sizes)
    {
        CVideo video;
        ASSERT_EQ(video.SetGeometry(size[0], size[0], size[1], 0, 0), 1);
        std::vector<std::vector<std::uint8_t>> pictures;
        for (int k = 0; k < 3; ++k)
        {
            pictures.push_back(k == 1 ? Noise(size[0], size[1], 9) : Gradient(size[0], size[1], k));
            ASSERT_EQ(video.AddFrame(0, kPalette.data(), pictures.back().data()), AF_ADDED);
        }
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Decode(video, k), pictures[static_cast<std::size_t>(k)])
                << size[0] << " x " << size[1] << " frame " << k;
    }
}

TEST(VideoCodec, ReadsSourceRowsByPitchFromTheOrigin)
{
    // A 20 x 12 picture inside a 32-byte pitch buffer, starting at (5, 2).
    const int pitch = 32, rows = 16;
    std::vector<std::uint8_t> source(static_cast<std::size_t>(pitch * rows));
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>(i * 31 % 253);
    CVideo video;
    ASSERT_EQ(video.SetGeometry(20, pitch, 12, 5, 2), 1);
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), source.data()), AF_ADDED);
    const auto decoded = Decode(video, 0);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(decoded[static_cast<std::size_t>(y * 20 + x)],
                      source[static_cast<std::size_t>((y + 2) * pitch + x + 5)])
                << x << "," << y;
}

TEST(VideoCodec, PaletteIsComparedOnlyInEntries192And255)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(8, 8, 8, 0, 0), 1);
    const auto picture = Solid(8, 8, 1);
    auto palette = MakePalette(10);
    ASSERT_EQ(video.AddFrame(0, palette.data(), picture.data()), AF_ADDED);

    auto elsewhere = palette;
    elsewhere[4 * 7] ^= 0xFF;
    elsewhere[4 * 254 + 3] ^= 0x01;
    ASSERT_EQ(video.AddFrame(0, elsewhere.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetPaletteCount(), 1);
    EXPECT_EQ(video.GetFrameRecord(1)->palette, 0);
    std::vector<std::uint8_t> shown(1024);
    ASSERT_EQ(video.GetPalette(1, shown.data()), 1);
    EXPECT_EQ(shown, palette); // the second frame shows the first palette

    auto at192 = palette;
    at192[4 * 192 + 3] = 9; // the fourth byte counts too
    ASSERT_EQ(video.AddFrame(0, at192.data(), picture.data()), AF_ADDED);
    auto at255 = at192;
    at255[4 * 255] ^= 0x40;
    ASSERT_EQ(video.AddFrame(0, at255.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetPaletteCount(), 3);
    EXPECT_EQ(video.GetFrameRecord(2)->palette, 1);
    EXPECT_EQ(video.GetFrameRecord(3)->palette, 2);
}

TEST(VideoCodec, AllZeroPaletteDropsFrameUnlessTheLastPaletteMatches)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(8, 8, 8, 0, 0), 1);
    const auto picture = Solid(8, 8, 1);
    const std::vector<std::uint8_t> zero(1024, 0);
    EXPECT_EQ(video.AddFrame(0, zero.data(), picture.data()), AF_SKIPPED);
    EXPECT_EQ(video.GetFrameCount(), 0);
    EXPECT_EQ(video.GetNodeCount(), 0);
    EXPECT_FALSE(video.IsSaved()); // the flag is cleared before the palette is looked at

    // The time base is set by the first frame actually added.
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetFrameTime(0), 0.0f);

    // A zero palette is reused when the last one is zero in 192 and 255.
    auto blackEnds = MakePalette(4);
    std::memset(&blackEnds[4 * 192], 0, 4);
    std::memset(&blackEnds[4 * 255], 0, 4);
    ASSERT_EQ(video.AddFrame(0, blackEnds.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.AddFrame(0, zero.data(), picture.data()), AF_ADDED);
    EXPECT_EQ(video.GetFrameRecord(2)->palette, 1);
}

TEST(VideoCodec, OutOfRangeFrameLeavesTargetUntouched)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(8, 8, 8, 0, 0), 1);
    const auto picture = Gradient(8, 8, 0);
    ASSERT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    std::vector<std::uint8_t> target(64, 0xAB), palette(1024, 0xCD);
    for (int index : {-1, 1, 1000, -2147483647 - 1})
    {
        EXPECT_EQ(video.GetFrame(index, target.data(), true), 0);
        EXPECT_EQ(video.GetPalette(index, palette.data()), 0);
        EXPECT_EQ(video.GetFrameTime(index), 0.0f);
    }
    EXPECT_EQ(target, std::vector<std::uint8_t>(64, 0xAB));
    EXPECT_EQ(palette, std::vector<std::uint8_t>(1024, 0xCD));
}

TEST(VideoCodec, CursorMarkerIsAnArrowHeadClippedAtThePictureEdge)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    const auto picture = Solid(640, 480, 0);
    ASSERT_EQ(video.AddFrame(10u | (20u << 16), kPalette.data(), picture.data()), AF_ADDED);
    ASSERT_EQ(video.AddFrame(638u | (478u << 16), kPalette.data(), picture.data()), AF_ADDED);

    auto marked = Decode(video, 0, true);
    const char* rows[5] = {"##...", "#.##.", ".#..#", ".#...", "..#.."};
    int set = 0;
    for (int dy = 0; dy < 5; ++dy)
        for (int dx = 0; dx < 5; ++dx)
            EXPECT_EQ(marked[static_cast<std::size_t>((20 + dy) * 640 + 10 + dx)] == 255,
                      rows[dy][dx] == '#')
                << dx << "," << dy;
    for (auto v : marked)
        set += v == 255;
    EXPECT_EQ(set, 9);

    auto corner = Decode(video, 1, true);
    std::vector<std::size_t> drawn;
    for (std::size_t i = 0; i < corner.size(); ++i)
        if (corner[i] == 255)
            drawn.push_back(i);
    EXPECT_EQ(drawn, (std::vector<std::size_t>{478 * 640 + 638, 478 * 640 + 639, 479 * 640 + 638}));

    EXPECT_EQ(Decode(video, 0, false), picture);
}

TEST(VideoCodec, ClosedVideoTakesNoFrames)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(8, 8, 8, 0, 0), 1);
    video.SetAppendable(false);
    const auto picture = Solid(8, 8, 1);
    EXPECT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_SKIPPED);
    EXPECT_EQ(video.GetFrameCount(), 0);
    EXPECT_TRUE(video.IsSaved());
}

TEST(VideoCodec, PreviousFrameShortcutBuildsTheSameTablesAsThePlainEncoder)
{
    // A scene with a still background, a moving square, a region that flips
    // between two contents (reused nodes at a changed place), a change of
    // pitch and origin (the picture size stays) and a repeated frame.
    CVideo fast, plain;
    plain.SetReuseUnchanged(false);
    for (CVideo* v : {&fast, &plain})
        ASSERT_EQ(v->SetGeometry(200, 200, 120, 0, 0), 1);
    constexpr int kWidth = 200, kHeight = 120, kPitch = 216, kLeft = 8, kTop = 4;
    for (int k = 0; k < 40; ++k)
    {
        if (k == 25)
        {
            for (CVideo* v : {&fast, &plain})
                ASSERT_EQ(v->SetGeometry(kWidth, kPitch, kHeight, kLeft, kTop), 1);
        }
        auto picture = Gradient(kWidth, kHeight, 5);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                picture[static_cast<std::size_t>((20 + y) * kWidth + 3 * k + x)] = 250;
        if (k % 2)
            for (int i = 0; i < 64; ++i)
                picture[static_cast<std::size_t>((40 + i / 8) * kWidth + 64 + i % 8)] = 9;
        if (k == 30)
            picture = Noise(kWidth, kHeight, 30);
        if (k >= 25)
        {
            // The same picture inside a wider buffer, below and right of its corner.
            std::vector<std::uint8_t> framed(static_cast<std::size_t>(kPitch * (kHeight + kTop)),
                                             77);
            for (int y = 0; y < kHeight; ++y)
                std::copy_n(picture.begin() + y * kWidth, kWidth,
                            framed.begin() + (y + kTop) * kPitch + kLeft);
            picture = framed;
        }
        for (CVideo* v : {&fast, &plain})
        {
            ASSERT_EQ(v->AddFrame(static_cast<std::uint32_t>(k), kPalette.data(), picture.data()),
                      AF_ADDED);
            if (k == 10)
            {
                ASSERT_EQ(v->AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
            }
        }
    }
    ExpectSameTables(fast, plain);
    EXPECT_LT(fast.GetDictionaryStats().lookups, plain.GetDictionaryStats().lookups / 2);
}

namespace
{
// Frames where nearly everything changes, then where nothing does: a tiled
// texture scrolled a pixel a frame, noise, a still picture, a fade.
std::vector<std::vector<std::uint8_t>> ChangingScenes(int width, int height)
{
    const auto tile = Noise(16, 16, 7);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int k = 0; k < 12; ++k)
    {
        std::vector<std::uint8_t> picture(static_cast<std::size_t>(width * height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                picture[static_cast<std::size_t>(y * width + x)] =
                    tile[static_cast<std::size_t>((y % 16) * 16 + (x + k) % 16)];
        frames.push_back(picture);
    }
    for (int k = 0; k < 6; ++k)
        frames.push_back(Noise(width, height, 100 + static_cast<std::uint32_t>(k)));
    const auto still = Gradient(width, height, 3);
    for (int k = 0; k < 4; ++k)
        frames.push_back(still);
    for (int step = 1; step <= 8; ++step)
    {
        auto picture = still;
        for (auto& p : picture)
            p = static_cast<std::uint8_t>(p * (8 - step) / 8);
        frames.push_back(picture);
    }
    return frames;
}
} // namespace

TEST(VideoCodec, ScenesWhereEverythingChangesBuildTheSameTablesWithAndWithoutTheShortcut)
{
    constexpr int kWidth = 96, kHeight = 72;
    CVideo fast, plain;
    plain.SetReuseUnchanged(false);
    for (CVideo* v : {&fast, &plain})
        ASSERT_EQ(v->SetGeometry(kWidth, kWidth, kHeight, 0, 0), 1);
    // Lookups of each frame with the shortcut on.
    std::vector<std::uint64_t> lookups;
    for (const auto& picture : ChangingScenes(kWidth, kHeight))
    {
        const std::uint64_t before = fast.GetDictionaryStats().lookups;
        for (CVideo* v : {&fast, &plain})
            ASSERT_EQ(v->AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
        lookups.push_back(fast.GetDictionaryStats().lookups - before);
    }
    ExpectSameTables(fast, plain);
    // The node indices and frames the encoder has always made for these
    // pictures: any change to the numbering shows here.
    EXPECT_EQ(TablesDigest(fast), 2209201566u);

    // Every square of the tree inside the picture: 24 x 18 leaves, then
    // 12 x 9, 6 x 5, 3 x 3, 2 x 2 and the root.
    const std::uint64_t everySquare = 24 * 18 + 12 * 9 + 6 * 5 + 3 * 3 + 2 * 2 + 1;
    // The still picture follows noise, whose leaves all changed: its first
    // frame goes without the compare, and keeps no leaf of the noise, so
    // its second does too; that one keeps every leaf, and the third is
    // compared and needs no lookup at all.
    EXPECT_EQ(lookups[18], everySquare);
    EXPECT_EQ(lookups[19], everySquare);
    EXPECT_EQ(lookups[20], 0u);
}

TEST(VideoCodec, LargeDictionariesBuildTheSameTablesWithAndWithoutTheShortcut)
{
    // Past 4 MiB of dictionary the encoder lists each frame's leaves and asks
    // for their buckets ahead, and where nearly every node is new, for the
    // inner nodes' too: noise takes it there, then a scroll and a still
    // picture run through that path with and without the compare.
    constexpr int kWidth = 640, kHeight = 480;
    CVideo fast, plain;
    plain.SetReuseUnchanged(false);
    for (CVideo* v : {&fast, &plain})
        ASSERT_EQ(v->SetGeometry(kWidth, kWidth, kHeight, 0, 0), 1);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int k = 0; k < 30; ++k)
        frames.push_back(Noise(kWidth, kHeight, 500 + static_cast<std::uint32_t>(k)));
    const auto base = Noise(kWidth + 8, kHeight, 900);
    for (int k = 0; k < 8; ++k)
    {
        std::vector<std::uint8_t> picture(static_cast<std::size_t>(kWidth * kHeight));
        for (int y = 0; y < kHeight; ++y)
            std::copy_n(base.begin() + y * (kWidth + 8) + (k < 4 ? k : 4), kWidth,
                        picture.begin() + y * kWidth);
        frames.push_back(picture);
    }
    for (const auto& picture : frames)
        for (CVideo* v : {&fast, &plain})
            ASSERT_EQ(v->AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    ExpectSameTables(fast, plain);
    const std::size_t dictionaryBytes =
        fast.GetNodeStoreBytes() - static_cast<std::size_t>(fast.GetNodeCount()) * sizeof(Node);
    EXPECT_GT(dictionaryBytes, std::size_t{4} << 20);
}
