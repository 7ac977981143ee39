// The sound section of a ".dk2" file and the journal's sound blocks, as the
// video keeps them: the blocks are opaque bytes here (the sound subsystem
// makes and decodes them), so that what is tested is where they go and what
// a reader does with a section that lies.

#include "TestPictures.h"
#include "base/ByteOrder.h"
#include "base/Crc32.h"
#include "video/Journal.h"
#include "video/SoundTrack.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace testpics;

namespace
{
SoundBlock MakeBlock(std::uint32_t samples, std::uint8_t seed, std::size_t bytes = 100)
{
    SoundBlock block;
    block.samples = samples;
    for (std::size_t i = 0; i < bytes; ++i)
        block.bytes.push_back(static_cast<std::uint8_t>(seed + i * 7));
    return block;
}

// A video of a few frames with a track of three blocks.
void FillWithSound(CVideo& video)
{
    FillVideo(video, 5);
    video.GetSound() = CSoundTrack(48000, 2, 12345);
    ASSERT_TRUE(video.GetSound().Append(MakeBlock(24000, 1)));
    ASSERT_TRUE(video.GetSound().Append(MakeBlock(24000, 2, 300)));
    ASSERT_TRUE(video.GetSound().Append(MakeBlock(1000, 3, 17)));
}

std::vector<std::uint8_t> Saved(CVideo& video, const std::string& name)
{
    const std::string path = TempPath(name);
    EXPECT_EQ(SaveVideoFile(video, path), 1);
    return ReadFileBytes(path);
}

// Loads `bytes`; the video's sound problem, or "loaded" when none.
std::string LoadProblem(const std::vector<std::uint8_t>& bytes, CVideo& video)
{
    const std::string path = TempPath("sound-lies.dk2");
    WriteFileBytes(path, bytes);
    std::string error;
    if (!LoadVideoFile(video, path, error))
        return "refused: " + error;
    return video.GetSoundProblem().empty() ? "loaded" : video.GetSoundProblem();
}
} // namespace

TEST(SoundSection, ComesBackAsItWasSavedAfterTheLastPalette)
{
    CVideo video;
    FillWithSound(video);
    const std::vector<std::uint8_t> bytes = Saved(video, "sound-roundtrip.dk2");
    const std::size_t picture = 8 + static_cast<std::size_t>(video.GetBodySize());
    ASSERT_EQ(bytes.size(), picture + SoundSectionBytes(video.GetSound()));
    EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(picture),
                          bytes.begin() + static_cast<std::ptrdiff_t>(picture) + 7),
              "TRSOUND");

    CVideo loaded;
    ASSERT_EQ(LoadProblem(bytes, loaded), "loaded");
    const CSoundTrack& sound = loaded.GetSound();
    EXPECT_EQ(sound.Rate(), 48000u);
    EXPECT_EQ(sound.Channels(), 2u);
    EXPECT_EQ(sound.StartMicroseconds(), 12345);
    ASSERT_EQ(sound.BlockCount(), 3u);
    EXPECT_EQ(sound.SampleCount(), 49000u);
    EXPECT_EQ(sound.Block(1).bytes, video.GetSound().Block(1).bytes);
    EXPECT_EQ(sound.FindBlock(23999), 0u);
    EXPECT_EQ(sound.FindBlock(24000), 1u);
    EXPECT_EQ(sound.FindBlock(48999), 2u);
    EXPECT_EQ(sound.FindBlock(49000), 3u);
    EXPECT_EQ(loaded.GetFrameCount(), 5);
}

TEST(SoundSection, AVideoWithoutSoundSavesTheFileOfBefore)
{
    CVideo video;
    FillVideo(video, 5);
    const std::vector<std::uint8_t> bytes = Saved(video, "sound-none.dk2");
    EXPECT_EQ(bytes.size(), 8 + static_cast<std::size_t>(video.GetBodySize()));
    CVideo loaded;
    EXPECT_EQ(LoadProblem(bytes, loaded), "loaded");
    EXPECT_TRUE(loaded.GetSound().Empty());
}

TEST(SoundSection, ASectionThatLiesIsLeftOutAndThePictureKept)
{
    CVideo video;
    FillWithSound(video);
    const std::vector<std::uint8_t> good = Saved(video, "sound-good.dk2");
    const std::size_t at = 8 + static_cast<std::size_t>(video.GetBodySize());
    // Changes one header field and puts the header's own checksum right, so
    // that the field's own check is what catches it.
    const auto withField = [&](std::size_t offset, std::uint64_t value, int bytes)
    {
        std::vector<std::uint8_t> b = good;
        if (bytes == 4)
            StoreLe32(&b[at + offset], static_cast<std::uint32_t>(value));
        else
            StoreLe64(&b[at + offset], value);
        StoreLe32(&b[at + 56], Crc32(&b[at], 56));
        return b;
    };
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* problem;
    };
    std::vector<std::uint8_t> flipped = good;
    flipped[at + 60 + 8 + 5] ^= 1; // a byte of the first block
    std::vector<std::uint8_t> badHeader = good;
    badHeader[at + 17] ^= 1;
    std::vector<std::uint8_t> junk = good;
    junk.resize(at);
    junk.insert(junk.end(), {'J', 'U', 'N', 'K', '!', '!', '!', '!', 0, 0});
    const Case cases[] = {
        {"header checksum", badHeader, "header is damaged"},
        {"version", withField(8, 2, 4), "version"},
        {"codec", withField(12, 7, 4), "format out of range"},
        {"rate", withField(16, 7, 4), "format out of range"},
        {"channels", withField(20, 0, 4), "format out of range"},
        {"no blocks", withField(40, 0, 4), "counts do not hold together"},
        {"more blocks than bytes", withField(40, 1u << 30, 4), "counts do not hold together"},
        {"data longer than its blocks", withField(44, 1u << 30, 8), "length does not match"},
        {"data shorter than its blocks", withField(44, 60, 8), "out of range"},
        {"sample count", withField(32, 48999, 8), "length in samples"},
        {"data checksum", flipped, "checksum"},
        {"cut in the data", std::vector<std::uint8_t>(good.begin(), good.end() - 5),
         "ends inside its sound section"},
        {"cut in the header", std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at + 30)),
         "ends inside its header"},
    };
    for (const Case& c : cases)
    {
        CVideo loaded;
        const std::string problem = LoadProblem(c.bytes, loaded);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
        EXPECT_TRUE(loaded.GetSound().Empty()) << c.what;
        EXPECT_EQ(loaded.GetFrameCount(), 5) << c.what;
    }
    // Bytes after the palettes that are no sound section are not sound: the
    // video loads as it did before (verify reports the file's length).
    {
        CVideo loaded;
        EXPECT_EQ(LoadProblem(junk, loaded), "loaded");
        EXPECT_TRUE(loaded.GetSound().Empty());
    }
    // A block that claims more bytes than a block may hold is refused before
    // any memory is taken for it.
    std::vector<std::uint8_t> huge = good;
    StoreLe32(&huge[at + 60 + 4], 0xFFFFFFF0u);
    CVideo loaded;
    EXPECT_NE(LoadProblem(huge, loaded).find("out of range"), std::string::npos);
}

TEST(SoundJournal, RecoversTheSoundSaveWouldHaveWritten)
{
    const std::string journal = TempPath("sound.trj");
    std::filesystem::remove(journal);
    CVideo video;
    ASSERT_EQ(video.SetGeometry(64, 64, 48, 0, 0), 1);
    CJournalWriter writer;
    std::string reason;
    ASSERT_TRUE(writer.Open(journal, 64, 48, reason)) << reason;
    video.GetSound() = CSoundTrack(44100, 1, 250000);
    for (int k = 0; k < 6; ++k)
    {
        const auto picture = Gradient(64, 48, k);
        const auto palette = MakePalette(1);
        const int nodes = video.GetNodeCount(), palettes = video.GetPaletteCount();
        ASSERT_EQ(video.AddFrame(0, palette.data(), picture.data()), AF_ADDED);
        ASSERT_TRUE(writer.Append(video, nodes, palettes));
        if (k % 2 == 1) // a sound block between every other frame
        {
            ASSERT_TRUE(video.GetSound().Append(
                MakeBlock(22050, static_cast<std::uint8_t>(k), 50 + static_cast<std::size_t>(k))));
            ASSERT_TRUE(writer.AppendSound(video, video.GetSound().BlockCount() - 1));
        }
    }
    writer.Close();
    const std::vector<std::uint8_t> saved = Saved(video, "sound-journal-save.dk2");

    JournalSummary summary;
    std::string error;
    const std::string out = TempPath("sound-recovered.dk2");
    std::filesystem::remove(out);
    ASSERT_TRUE(RecoverJournal(journal, out, summary, error)) << error;
    EXPECT_EQ(summary.frames, 6);
    EXPECT_EQ(summary.soundBlocks, 3);
    EXPECT_EQ(summary.soundSamples, 3u * 22050);
    EXPECT_FALSE(summary.cut);
    EXPECT_EQ(ReadFileBytes(out), saved);

    // The journal's last sound block torn: the frames before it and the
    // whole sound blocks are recovered, and the file is what it would have
    // been with the blocks that survived.
    std::vector<std::uint8_t> torn = ReadFileBytes(journal);
    torn.resize(torn.size() - 20);
    WriteFileBytes(journal, torn);
    ASSERT_TRUE(RecoverJournal(journal, out, summary, error)) << error;
    EXPECT_TRUE(summary.cut);
    EXPECT_EQ(summary.soundBlocks, 2);
    CVideo recovered;
    ASSERT_TRUE(LoadVideoFile(recovered, out, error)) << error;
    EXPECT_EQ(recovered.GetSound().BlockCount(), 2u);
    EXPECT_EQ(recovered.GetSound().StartMicroseconds(), 250000);
    EXPECT_EQ(recovered.GetSound().Block(1).bytes, video.GetSound().Block(1).bytes);
}

TEST(SoundJournal, ASoundBlockOutOfStepEndsTheJournal)
{
    const std::string journal = TempPath("sound-step.trj");
    std::filesystem::remove(journal);
    CVideo video;
    ASSERT_EQ(video.SetGeometry(64, 64, 48, 0, 0), 1);
    CJournalWriter writer;
    std::string reason;
    ASSERT_TRUE(writer.Open(journal, 64, 48, reason)) << reason;
    const auto picture = Gradient(64, 48, 0);
    const auto palette = MakePalette(1);
    ASSERT_EQ(video.AddFrame(0, palette.data(), picture.data()), AF_ADDED);
    ASSERT_TRUE(writer.Append(video, 0, 0));
    video.GetSound() = CSoundTrack(48000, 2, 0);
    ASSERT_TRUE(video.GetSound().Append(MakeBlock(100, 1)));
    ASSERT_TRUE(video.GetSound().Append(MakeBlock(100, 2)));
    // The writer keeps the order: block 1 before block 0 is refused.
    EXPECT_FALSE(writer.AppendSound(video, 1));
    EXPECT_TRUE(writer.IsFailed());
}
