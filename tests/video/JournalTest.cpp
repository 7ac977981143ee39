// The recording journal: what a journal of k frames recovers is the file
// Save writes after those k frames, byte for byte, whatever happened to the
// journal's end; a damaged journal is cut at its first bad block.

#include "video/Journal.h"

#include "TestPictures.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testpics;

namespace
{
// Records `frames` frames of a scene whose palette changes now and then,
// journalling each; `saves[k]` is the file Save writes after k + 1 frames.
struct Recording
{
    std::string journal;
    std::vector<std::vector<std::uint8_t>> saves;
};

Recording Record(const std::string& name, int frames, int width = 64, int height = 48)
{
    Recording r;
    r.journal = TempPath(name + ".trj");
    std::filesystem::remove(r.journal);
    CVideo video;
    EXPECT_EQ(video.SetGeometry(width, width, height, 0, 0), 1);
    CJournalWriter writer;
    std::string reason;
    EXPECT_TRUE(writer.Open(r.journal, width, height, reason)) << reason;
    for (int k = 0; k < frames; ++k)
    {
        auto picture = Gradient(width, height, k / 4);
        picture[static_cast<std::size_t>(k * 7 % (width * height))] = 250;
        const auto palette = MakePalette(static_cast<std::uint8_t>(k / 3));
        const int nodes = video.GetNodeCount(), palettes = video.GetPaletteCount();
        EXPECT_EQ(video.AddFrame(static_cast<std::uint32_t>(k), palette.data(), picture.data()),
                  AF_ADDED);
        EXPECT_TRUE(writer.Append(video, nodes, palettes));
        const std::string save = TempPath(name + "-save.dk2");
        EXPECT_EQ(SaveVideoFile(video, save), 1);
        r.saves.push_back(ReadFileBytes(save));
    }
    writer.Close();
    return r;
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
    {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// The ".dk2" bytes recovered from `journal`, or nothing.
std::vector<std::uint8_t> Recovered(const std::string& journal, JournalSummary& summary)
{
    const std::string out = journal + ".dk2";
    std::filesystem::remove(out);
    std::string error;
    if (!RecoverJournal(journal, out, summary, error))
        return {};
    return ReadFileBytes(out);
}
} // namespace

TEST(Journal, RecoversTheFileSaveWritesByteForByte)
{
    const Recording r = Record("whole", 12);
    JournalSummary summary;
    EXPECT_EQ(Recovered(r.journal, summary), r.saves.back());
    EXPECT_EQ(summary.frames, 12);
    EXPECT_FALSE(summary.cut);
    EXPECT_EQ(summary.header.width, 64);
    EXPECT_GT(summary.header.startMs, 1'600'000'000'000LL);
}

TEST(Journal, ATornLastBlockKeepsExactlyTheFramesBeforeIt)
{
    const Recording r = Record("torn", 6);
    const auto bytes = ReadFileBytes(r.journal);
    JournalSummary whole;
    ASSERT_FALSE(Recovered(r.journal, whole).empty());
    // Where the last block starts: the end of five frames' worth.
    const Recording first = Record("torn-five", 5);
    const std::size_t lastBlock = ReadFileBytes(first.journal).size();
    ASSERT_LT(lastBlock, bytes.size());
    const std::string cut = TempPath("cut.trj");
    for (std::size_t size = lastBlock; size < bytes.size(); ++size)
    {
        WriteFileBytes(cut, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)});
        JournalSummary summary;
        ASSERT_EQ(Recovered(cut, summary), r.saves[4]) << "cut at " << size;
        EXPECT_EQ(summary.cut, size != lastBlock) << size;
    }
}

TEST(Journal, ADamagedBlockEndsTheJournalThere)
{
    const Recording r = Record("damaged", 8);
    const Recording four = Record("damaged-four", 4);
    const std::size_t fifth = ReadFileBytes(four.journal).size();
    auto bytes = ReadFileBytes(r.journal);
    const std::string path = TempPath("damaged-copy.trj");
    JournalSummary summary;

    // A flipped byte inside the fifth block's payload: its checksum fails.
    auto flipped = bytes;
    flipped[fifth + 40] ^= 0x40;
    WriteFileBytes(path, flipped);
    EXPECT_EQ(Recovered(path, summary), r.saves[3]);
    EXPECT_TRUE(summary.cut);

    // A length that would run past any sane block.
    auto huge = bytes;
    for (int i = 0; i < 4; ++i)
        huge[fifth + 4 + static_cast<std::size_t>(i)] = 0xFF;
    WriteFileBytes(path, huge);
    EXPECT_EQ(Recovered(path, summary), r.saves[3]);

    // Blocks out of order: the sixth where the fifth belongs.
    const Recording five = Record("damaged-five", 5);
    const std::size_t sixth = ReadFileBytes(five.journal).size();
    std::vector<std::uint8_t> skipped(bytes.begin(),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(fifth));
    skipped.insert(skipped.end(), bytes.begin() + static_cast<std::ptrdiff_t>(sixth), bytes.end());
    WriteFileBytes(path, skipped);
    EXPECT_EQ(Recovered(path, summary), r.saves[3]);
}

TEST(Journal, RefusesWhatIsNoJournal)
{
    const std::string path = TempPath("not-a-journal.trj");
    JournalSummary summary;
    std::string error;
    WriteFileBytes(path, {'T', 'R', 'E', 'L', 'L', 'O', 'N', 0});
    EXPECT_FALSE(ScanJournal(path, summary, error));
    EXPECT_EQ(error, "not a TrellonHD recording journal");

    // A header whose checksum holds but whose picture size is out of range.
    const Recording r = Record("bad-size", 1);
    auto bytes = ReadFileBytes(r.journal);
    const std::int32_t width = 100000;
    std::memcpy(&bytes[12], &width, 4);
    const std::uint32_t crc = Crc32(bytes.data(), 32);
    std::memcpy(&bytes[32], &crc, 4);
    WriteFileBytes(path, bytes);
    EXPECT_FALSE(ScanJournal(path, summary, error));
    EXPECT_EQ(error, "the journal's picture size is out of range");
    EXPECT_FALSE(ScanJournal(TempPath("no-such.trj"), summary, error));

    // A journal whose header is all there is: no frame to recover.
    const std::string empty = TempPath("empty.trj");
    std::filesystem::remove(empty);
    {
        CJournalWriter writer;
        ASSERT_TRUE(writer.Open(empty, 16, 16, error));
    }
    ASSERT_TRUE(ScanJournal(empty, summary, error));
    EXPECT_EQ(summary.frames, 0);
    EXPECT_FALSE(RecoverJournal(empty, empty + ".dk2", summary, error));
    EXPECT_EQ(error, "the journal holds no frame");
    EXPECT_FALSE(std::filesystem::exists(empty + ".dk2"));
}

TEST(Journal, AWriterHoldsItsJournalAgainstOthersUntilClosed)
{
    const std::string path = TempPath("locked.trj");
    std::filesystem::remove(path);
    CJournalWriter writer;
    std::string reason;
    ASSERT_TRUE(writer.Open(path, 16, 16, reason));
    EXPECT_TRUE(IsFileLockedByOther(path));
    // A second writer never opens over a journal that exists.
    CJournalWriter second;
    EXPECT_FALSE(second.Open(path, 16, 16, reason));
    writer.Close();
    EXPECT_FALSE(IsFileLockedByOther(path));
    EXPECT_TRUE(std::filesystem::exists(path));
    writer.Remove();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Journal, FileNamesAreRecognised)
{
    EXPECT_TRUE(IsJournalFileName(JournalFileName(1765000000123, 42)));
    EXPECT_FALSE(IsJournalFileName("recording-12-.trj"));
    EXPECT_FALSE(IsJournalFileName("recording-a-1.trj"));
    EXPECT_FALSE(IsJournalFileName("notes.txt"));
}
