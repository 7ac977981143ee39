#include "video/VideoFile.h"

#include "TestPictures.h"
#include "base/ByteOrder.h"
#include "video/FileAccess.h"
#include "video/Video.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testpics;

namespace
{
const std::vector<std::uint8_t> kPalette = MakePalette(2);

// A file header with the given fields, then `extra` bytes of 0x11.
std::vector<std::uint8_t> Header(std::int32_t version, std::int32_t w, std::int32_t h,
                                 std::int32_t f, std::int32_t n, std::int32_t p,
                                 std::size_t extra = 0)
{
    std::vector<std::uint8_t> out(kVideoMagic, kVideoMagic + 8);
    for (std::int32_t v : {version, w, h, f, n, p})
        AppendLe32(out, static_cast<std::uint32_t>(v));
    out.insert(out.end(), extra, 0x11);
    return out;
}

struct LoadResult
{
    int result;
    std::string error;
};

LoadResult LoadBytes(CVideo& video, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = TempPath("load.dk2");
    WriteFileBytes(path, bytes);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string error;
    const int result = video.ReadBody(&error, file);
    std::fclose(file);
    return {result, error};
}

} // namespace

TEST(VideoFile, EmptyVideoIsA32ByteFileThatLoadsClosed)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    const std::string path = TempPath("empty.dk2");
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    EXPECT_EQ(ReadFileBytes(path), Header(50, 640, 480, 0, 0, 0));

    CVideo loaded;
    std::string error;
    ASSERT_EQ(LoadVideoFile(loaded, path, error), 1) << error;
    EXPECT_EQ(loaded.GetFrameCount(), 0);
    EXPECT_FALSE(loaded.IsAppendable());
    EXPECT_TRUE(loaded.IsSaved());
    EXPECT_EQ(loaded.GetWidth(), 640);
}

TEST(VideoFile, HundredIdenticalFramesOfOneColourAre2896Bytes)
{
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    const auto picture = Solid(640, 480, 3);
    for (int k = 0; k < 100; ++k)
        ASSERT_EQ(video.AddFrame(0, kPalette.data(), picture.data()), AF_ADDED);
    const std::string path = TempPath("hundred.dk2");
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    EXPECT_TRUE(video.IsSaved());
    EXPECT_EQ(std::filesystem::file_size(path), 2896u);
    EXPECT_EQ(video.GetBodySize(), 2888);
}

TEST(VideoFile, LoadedVideoHasTheSameTablesAndSavesToTheSameBytes)
{
    CVideo video;
    FillVideo(video, 20);
    const std::string first = TempPath("first.dk2"), second = TempPath("second.dk2");
    ASSERT_EQ(SaveVideoFile(video, first), 1);

    CVideo loaded;
    std::string error;
    ASSERT_EQ(LoadVideoFile(loaded, first, error), 1) << error;
    ASSERT_EQ(loaded.GetFrameCount(), 20);
    EXPECT_EQ(loaded.GetNodeCount(), video.GetNodeCount());
    EXPECT_EQ(loaded.GetPaletteCount(), video.GetPaletteCount());
    std::vector<std::uint8_t> a(64 * 48), b(64 * 48);
    for (int k = 0; k < 20; ++k)
    {
        ASSERT_EQ(video.GetFrame(k, a.data(), true), 1);
        ASSERT_EQ(loaded.GetFrame(k, b.data(), true), 1);
        EXPECT_EQ(a, b) << "frame " << k;
        EXPECT_EQ(video.GetFrameTime(k), loaded.GetFrameTime(k));
    }
    // A loaded video has no dictionary and takes no frames.
    EXPECT_EQ(loaded.AddFrame(0, kPalette.data(), a.data()), AF_SKIPPED);

    ASSERT_EQ(SaveVideoFile(loaded, second), 1);
    EXPECT_EQ(ReadFileBytes(first), ReadFileBytes(second));
}

TEST(VideoFile, ReportsTheThreeErrorTextsExactly)
{
    {
        CVideo video;
        FillVideo(video, 1);
        const auto r = LoadBytes(video, Header(50, 8, 8, 0, 0, 0));
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.error, "Video class already contains frames");
        EXPECT_TRUE(video.IsAppendable()); // unchanged
        EXPECT_EQ(video.GetFrameCount(), 1);
    }
    {
        CVideo video;
        auto bytes = Header(50, 8, 8, 0, 0, 0);
        bytes[7] = 'X'; // "TRELLON" followed by a non-zero byte
        const auto r = LoadBytes(video, bytes);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.error, "Not a Trellon file");
        EXPECT_FALSE(video.IsAppendable());
        EXPECT_TRUE(video.IsSaved());
    }
    {
        CVideo video;
        const auto r = LoadBytes(video, Header(49, 8, 8, 0, 0, 0));
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.error, "Wronf file version");
    }
}

TEST(VideoFile, ShortFilesFailWithTheirReason)
{
    for (std::size_t length : {0u, 5u, 7u, 10u, 20u, 31u})
    {
        CVideo video;
        auto bytes = Header(50, 8, 8, 0, 0, 0);
        bytes.resize(length);
        const auto r = LoadBytes(video, bytes);
        EXPECT_EQ(r.result, 0) << length;
        EXPECT_EQ(r.error, length == 0 ? "the file is empty" : "the file ends inside its header")
            << length;
    }
}

TEST(VideoFile, AcceptsLaterVersionsWithTheSameLayout)
{
    for (std::int32_t version : {50, 51, 0x7FFFFFFF})
    {
        CVideo video;
        const auto r = LoadBytes(video, Header(version, 16, 16, 0, 0, 0));
        EXPECT_EQ(r.result, 1) << version;
    }
}

TEST(VideoFile, FileCutInsideThePalettesKeepsTheWholeRecordsReadBeforeTheCut)
{
    CVideo video;
    FillVideo(video, 12); // three palettes
    ASSERT_EQ(video.GetPaletteCount(), 3);
    const std::string path = TempPath("cut.dk2");
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    auto bytes = ReadFileBytes(path);
    bytes.resize(bytes.size() - 1024 - 100); // inside the second palette

    CVideo loaded;
    const auto r = LoadBytes(loaded, bytes);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.error, "the file ends before the records its header announces");
    EXPECT_EQ(loaded.GetFrameCount(), 12);
    EXPECT_EQ(loaded.GetNodeCount(), video.GetNodeCount());
    EXPECT_EQ(loaded.GetPaletteCount(), 3);         // as the header said
    EXPECT_NE(loaded.GetStoredPalette(0), nullptr); // whole palettes before the cut
    EXPECT_EQ(loaded.GetStoredPalette(1), nullptr);
    std::vector<std::uint8_t> palette(1024);
    EXPECT_EQ(loaded.GetPalette(11, palette.data()), 0);
    EXPECT_EQ(loaded.GetPalette(0, palette.data()), 1);
}

TEST(VideoFile, HeaderCountsBeyondTheFileAllocateOnlyWhatArrives)
{
    // Counts near 2^31 with almost nothing behind them: the reader fails at
    // the short read, holding only the records that were present.
    CVideo video;
    const auto r = LoadBytes(video, Header(50, 640, 480, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 40));
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(video.GetFrameRecord(1), nullptr);
    EXPECT_EQ(video.GetFrameRecord(2), nullptr);
    std::vector<std::uint8_t> target(640 * 480);
    EXPECT_EQ(video.GetFrame(1, target.data(), true), 1); // decodes nothing, reads nothing
    EXPECT_EQ(video.GetFrame(2, target.data(), true), 0);
}

TEST(VideoFile, NegativeCountsReadNothing)
{
    CVideo video;
    const auto r = LoadBytes(video, Header(50, 64, 64, -1, -5, -2147483647 - 1, 64));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(video.GetFrameCount(), 0);
    EXPECT_EQ(video.GetNodeCount(), 0);
    EXPECT_EQ(video.GetPaletteCount(), 0);
}

TEST(VideoFile, RefusesPictureSizesTheCodecCannotCover)
{
    const std::int32_t sizes[][2] = {{0, 480}, {640, 0},    {-640, 480},      {2, 2},
                                     {1, 2},   {8193, 100}, {100, 0x7FFFFFFF}};
    for (const auto& size : sizes)
    {
        CVideo video;
        const auto r = LoadBytes(video, Header(50, size[0], size[1], 0, 0, 0));
        EXPECT_EQ(r.result, 0) << size[0] << " x " << size[1];
        EXPECT_EQ(r.error, "Bad picture size in the file header");
    }
}

TEST(VideoFile, SquaresOfMissingNodesDecodeBlack)
{
    // One frame whose root is 0xFFFFFFFF, one whose root is node 1 (an inner
    // node pointing past the table) and a palette index of -1.
    auto bytes = Header(50, 8, 8, 2, 2, 1);
    for (std::uint32_t v : {0xFFFFFFFFu, 0xFFFFFFFFu, 0u, 0u, 1u, 0u, 0u, 0u})
        AppendLe32(bytes, v);
    for (std::uint32_t v :
         {0x01010101u, 0x01010101u, 0x01010101u, 0x01010101u, 0u, 7u, 99u, 0x80000000u})
        AppendLe32(bytes, v);
    bytes.insert(bytes.end(), 1024, 5);
    CVideo video;
    ASSERT_EQ(LoadBytes(video, bytes).result, 1);
    std::vector<std::uint8_t> target(64, 0xAA), palette(1024);
    // Whatever the target held before is overwritten, not shown through.
    ASSERT_EQ(video.GetFrame(0, target.data(), false), 1);
    EXPECT_EQ(target, std::vector<std::uint8_t>(64, 0));
    EXPECT_EQ(video.GetPalette(0, palette.data()), 0);
    std::fill(target.begin(), target.end(), 0xAA);
    ASSERT_EQ(video.GetFrame(1, target.data(), false), 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) // only the top-left quadrant (node 0) is in the table
            EXPECT_EQ(target[static_cast<std::size_t>(y * 8 + x)], x < 4 && y < 4 ? 1 : 0);
}

TEST(VideoFile, GoldenFileDecodesToKnownPixelsAndEncodesToTheSameBytes)
{
    // tests/data/golden/small.dk2 was written by an independent writer
    // (make_golden.py beside it): 12 x 10, three frames whose pixel (x, y) in
    // frame k is (x + 2y + 5k) mod 6 + 1 outside a square of 9s at (k, k), with
    // palettes, cursors and times listed there.
    const std::string path = std::string(TRELLON_TEST_DATA_DIR) + "/golden/small.dk2";
    CVideo golden;
    std::string error;
    ASSERT_EQ(LoadVideoFile(golden, path, error), 1) << error;
    ASSERT_EQ(golden.GetFrameCount(), 3);

    CVideo encoded;
    ASSERT_EQ(encoded.SetGeometry(12, 12, 10, 0, 0), 1);
    for (int k = 0; k < 3; ++k)
    {
        std::vector<std::uint8_t> expected(120);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                expected[static_cast<std::size_t>(y * 12 + x)] =
                    (x >= k && x < k + 3 && y >= k && y < k + 3)
                        ? 9
                        : static_cast<std::uint8_t>((x + 2 * y + 5 * k) % 6 + 1);
        std::vector<std::uint8_t> decoded(120);
        ASSERT_EQ(golden.GetFrame(k, decoded.data(), false), 1);
        EXPECT_EQ(decoded, expected) << "frame " << k;
        EXPECT_EQ(golden.GetFrameRecord(k)->cursor,
                  static_cast<std::uint32_t>(k * 3 + ((k + 1) << 16)));
        EXPECT_FLOAT_EQ(golden.GetFrameTime(k), 0.25f * static_cast<float>(k));

        std::vector<std::uint8_t> palette(1024);
        for (int i = 0; i < 256; ++i)
        {
            palette[static_cast<std::size_t>(4 * i)] = static_cast<std::uint8_t>(i);
            palette[static_cast<std::size_t>(4 * i + 1)] =
                static_cast<std::uint8_t>(k == 2 && i == 192 ? 1 : 0);
            palette[static_cast<std::size_t>(4 * i + 2)] = static_cast<std::uint8_t>(255 - i);
        }
        ASSERT_EQ(encoded.AddFrame(static_cast<std::uint32_t>(k * 3 + ((k + 1) << 16)),
                                   palette.data(), expected.data()),
                  AF_ADDED);
        encoded.SetFrameTime(k, 0.25f * static_cast<float>(k));
    }
    const std::string again = TempPath("golden-again.dk2");
    ASSERT_EQ(SaveVideoFile(encoded, again), 1);
    EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(path));
}

TEST(VideoFile, EveryFileInTheBadCorpusIsRefused)
{
    int seen = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TRELLON_TEST_DATA_DIR) + "/bad"))
    {
        if (entry.path().extension() != ".dk2")
            continue;
        ++seen;
        CVideo video;
        std::string error;
        EXPECT_EQ(LoadVideoFile(video, entry.path().string(), error), 0) << entry.path();
        EXPECT_FALSE(video.IsAppendable());
    }
    EXPECT_GE(seen, 5);
}

TEST(VideoFile, SaveRemovesATemporaryLeftByAnEarlierRun)
{
    const std::filesystem::path folder = TempPath("stale");
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "video.dk2").string();
    WriteFileBytes(path, {'o', 'l', 'd'});
    WriteFileBytes(path + ".saving", {});
    CVideo video;
    FillVideo(video, 2);
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    EXPECT_FALSE(std::filesystem::exists(path + ".saving"));
    CVideo loaded;
    std::string error;
    EXPECT_EQ(LoadVideoFile(loaded, path, error), 1) << error;
    EXPECT_EQ(loaded.GetFrameCount(), 2);
    std::filesystem::remove_all(folder);
}

TEST(VideoFile, SaveIntoAMissingFolderFails)
{
    CVideo video;
    FillVideo(video, 1);
    EXPECT_EQ(SaveVideoFile(video, TempPath("no-such-folder/x.dk2")), 0);
    EXPECT_FALSE(video.IsSaved());
    std::string error;
    CVideo other;
    EXPECT_EQ(LoadVideoFile(other, TempPath("no-such-folder/x.dk2"), error), 0);
    EXPECT_EQ(error.rfind("Error opening ", 0), 0u);
}
