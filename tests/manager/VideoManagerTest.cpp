#include "manager/VideoManager.h"

#include "capture/GameLayout.h"
#include "desktop/fake/FakeDesktop.h"
#include "drawing/Bitmap8Group.h"
#include "process/fake/FakeGame.h"
#include "sound/SoundCodec.h"
#include "sound/fake/FakeSound.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TestTempFolder.h"
#include "video/Journal.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace
{
constexpr std::uint32_t kScreen = 0x20000000;

// A v2.0.2.0 game in the fake backend with a picture of the given size.
class ManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        game.Reset();
        CFakeDesktop::Get().Reset();
        game.ShowWindow("WARCRAFT II", 99);
        game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
        game.Write8(kVersionByteAddress, kVersionByte2020);
        game.Write32(0x004D4A94, kScreen); // screen pointer
        std::vector<std::uint8_t> palette(1024);
        for (int i = 0; i < 1024; ++i)
            palette[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + 1);
        game.Write(0x004AE844, palette.data(), palette.size());
        game.Write32(0x004D5134, 100u | (50u << 16)); // cursor
        SetPicture(640, 480, 0);
    }

    void SetPicture(int width, int height, int seed)
    {
        width_ = width;
        height_ = height;
        picture.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (std::size_t i = 0; i < picture.size(); ++i)
            picture[i] =
                static_cast<std::uint8_t>((i * 13 + static_cast<std::size_t>(seed)) % 200 + 1);
        game.Unmap(kScreen);
        game.Map(kScreen, picture);
        game.Write32(0x004D4A90, static_cast<std::uint32_t>(width) |
                                     (static_cast<std::uint32_t>(height) << 16));
    }

    std::vector<std::uint8_t> Decoded(CVideoManager& manager, int index)
    {
        const CVideo& video = manager.GetVideo();
        std::vector<std::uint8_t> out(static_cast<std::size_t>(video.GetWidth()) *
                                      static_cast<std::size_t>(video.GetHeight()));
        EXPECT_EQ(video.GetFrame(index, out.data(), false), 1);
        return out;
    }

    CFakeGame& game = CFakeGame::Get();
    std::vector<std::uint8_t> picture;
    int width_ = 0, height_ = 0;
};

} // namespace

TEST_F(ManagerTest, CaptureAppendsThePicturePaletteAndCursor)
{
    CVideoManager manager;
    ASSERT_EQ(manager.CaptureFrame(), 1);
    ASSERT_EQ(manager.GetVideo().GetFrameCount(), 1);
    EXPECT_EQ(Decoded(manager, 0), picture);
    EXPECT_EQ(manager.GetVideo().GetFrameRecord(0)->cursor, 100u | (50u << 16));
    std::uint8_t palette[1024];
    ASSERT_EQ(manager.GetVideo().GetPalette(0, palette), 1);
    EXPECT_EQ(palette[1], 8);
    EXPECT_EQ(manager.GetLayout().GetKind(), GK_V2020);
}

TEST_F(ManagerTest, CaptureFollowsAScreenSizeChange)
{
    CVideoManager manager;
    SetPicture(800, 600, 3);
    ASSERT_EQ(manager.CaptureFrame(), 1);
    EXPECT_EQ(manager.GetWidth(), 800);
    EXPECT_EQ(manager.GetHeight(), 600);
    EXPECT_EQ(manager.GetVideo().GetWidth(), 800);
    EXPECT_EQ(manager.GetVideo().GetPitch(), 800);
    EXPECT_EQ(Decoded(manager, 0), picture);
}

TEST_F(ManagerTest, SizeChangeAfterTheFirstFrameKeepsEveryFrame)
{
    // The game restarted at another size: the frames held stay what they
    // were, the tick records nothing and says so, and a new video follows.
    CVideoManager manager;
    ASSERT_EQ(manager.CaptureFrame(), 1);
    const auto first = picture;
    SetPicture(800, 600, 3);
    ASSERT_EQ(manager.CaptureFrame(), 1);
    EXPECT_TRUE(manager.GameSizeChanged());
    EXPECT_EQ((std::pair{manager.GetGameWidth(), manager.GetGameHeight()}), (std::pair{800, 600}));
    ASSERT_EQ(manager.GetVideo().GetFrameCount(), 1);
    EXPECT_EQ((std::pair{manager.GetWidth(), manager.GetVideo().GetWidth()}),
              (std::pair{640, 640}));
    EXPECT_EQ(Decoded(manager, 0), first);
    EXPECT_NE(manager.GetFrame(0).pixels, nullptr);

    manager.NewVideo();
    ASSERT_EQ(manager.CaptureFrame(), 1);
    EXPECT_FALSE(manager.GameSizeChanged());
    EXPECT_EQ(manager.GetVideo().GetWidth(), 800);
    EXPECT_EQ(Decoded(manager, 0), picture);
}

TEST_F(ManagerTest, BlankPicturesAreNotRecordedAndTheirPaletteNotRead)
{
    CVideoManager manager;
    // The game's variables without the palette: reading it would raise.
    game.Unmap(0x00400000);
    game.Map(0x00400000, std::vector<std::uint8_t>(0x000AE000, 0));
    game.Map(0x004B0000, std::vector<std::uint8_t>(0x00050000, 0));
    game.Write8(kVersionByteAddress, kVersionByte2020);
    game.Write32(0x004D4A94, kScreen);
    game.Write32(0x004D4A90, 640u | (480u << 16));
    // One colour at every 1577th byte (2 x 640 + 297); what lies between the
    // samples does not count.
    std::vector<std::uint8_t> solid(640 * 480, 5);
    for (std::size_t i = 1; i < solid.size(); i += 1577)
        solid[i] = 9;
    game.Unmap(kScreen);
    game.Map(kScreen, solid);
    EXPECT_EQ(manager.CaptureFrame(), 1);
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 0);
}

TEST_F(ManagerTest, SizesThatDoNotFitAreSkippedWithoutReading)
{
    CVideoManager manager;
    for (std::uint32_t size : {0u, 640u, 480u << 16, 640u | (0x8000u << 16), 2048u | (2048u << 16)})
    {
        game.Write32(0x004D4A90, size);
        const int reads = game.Reads();
        EXPECT_EQ(manager.CaptureFrame(), 1) << std::hex << size;
        EXPECT_LE(game.Reads() - reads, 3) << "the picture was read"; // version, size only
        EXPECT_EQ(manager.GetVideo().GetFrameCount(), 0);
        EXPECT_EQ(manager.GetWidth(), 640);
    }
    // 1920 x 1080 fits.
    SetPicture(1920, 1080, 1);
    EXPECT_EQ(manager.CaptureFrame(), 1);
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 1);
}

TEST_F(ManagerTest, NoGameGivesZeroAndForgetsTheKind)
{
    CVideoManager manager;
    ASSERT_EQ(manager.CaptureFrame(), 1);
    game.EndProcess();
    EXPECT_EQ(manager.CaptureFrame(), 0);
    EXPECT_EQ(manager.GetLayout().GetKind(), GK_UNKNOWN);
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 1);
}

TEST_F(ManagerTest, ReadErrorsComeOutAsX9)
{
    CVideoManager manager;
    game.Write8(kVersionByteAddress, 0); // unknown build: GetAddress raises
    EXPECT_EQ(ErrorOf([&] { manager.CaptureFrame(); }), "x9");
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 0);
}

TEST_F(ManagerTest, DisplayOfAnEmptyVideoIsZerosWithAGreyRamp)
{
    game.EndProcess();
    CVideoManager manager;
    const DisplayFrame frame = manager.GetFrame(0);
    ASSERT_NE(frame.info, nullptr);
    std::int32_t width = 0, height = 0;
    std::memcpy(&width, frame.info + 4, 4);
    std::memcpy(&height, frame.info + 8, 4);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, -480);
    EXPECT_EQ(frame.info[14], 8);
    EXPECT_EQ(frame.info[40 + 4 * 77], 77);
    EXPECT_EQ(frame.info[40 + 4 * 77 + 2], 77);
    EXPECT_EQ(frame.pixels, frame.info + 1064);
    EXPECT_EQ(std::vector<std::uint8_t>(frame.pixels, frame.pixels + 640 * 480),
              std::vector<std::uint8_t>(640 * 480, 0));
}

TEST_F(ManagerTest, DisplaySwapsRedAndBlueAndStaysBlankOnTheInGameScreen)
{
    CVideoManager manager;
    game.Write32(0x004AE844 + 4 * 3, 10u | (20u << 8) | (30u << 16));
    ASSERT_EQ(manager.CaptureFrame(), 1);
    manager.m_bShowCursor = 0;
    DisplayFrame frame = manager.GetFrame(0); // the picture's first bytes are no signature
    ASSERT_NE(frame.info, nullptr);
    EXPECT_EQ(frame.info[40 + 12], 30);
    EXPECT_EQ(frame.info[40 + 13], 20);
    EXPECT_EQ(frame.info[40 + 14], 10);
    EXPECT_EQ(std::vector<std::uint8_t>(frame.pixels, frame.pixels + picture.size()), picture);
    EXPECT_EQ(manager.GetFrame(1).info, nullptr); // past the end

    game.Write32(kScreen, 0x64646464);
    EXPECT_EQ(manager.GetFrame(0).info, nullptr);
    game.Write8(kVersionByteAddress, 0);
    manager.GetLayout().Reset();
    EXPECT_EQ(ErrorOf([&] { manager.GetFrame(0); }), "x8"); // attached, kind unknown
}

TEST_F(ManagerTest, FragmentAndLoadedSizeReplaceTheVideo)
{
    CVideoManager manager;
    for (int k = 0; k < 20; ++k)
    {
        SetPicture(640, 480, k);
        ASSERT_EQ(manager.CaptureFrame(), 1);
    }
    ASSERT_EQ(manager.ExtractFragment(5, 9), 1);
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 5);
    EXPECT_EQ(manager.GetFrameTime(0), 0.0f);
    EXPECT_TRUE(manager.GetVideo().IsAppendable());

    // A loaded 2048 x 1536 video needs more than the frame buffer's first size.
    CVideo big;
    ASSERT_EQ(big.SetGeometry(2048, 2048, 1536, 0, 0), 1);
    std::vector<std::uint8_t> pixels(2048 * 1536, 7), palette(1024, 1);
    pixels[12345] = 200;
    ASSERT_EQ(big.AddFrame(0, palette.data(), pixels.data()), AF_ADDED);
    const std::string path = (TestTempFolder() / "trellon-manager-big.dk2").string();
    ASSERT_EQ(SaveVideoFile(big, path), 1);
    auto loaded = std::make_unique<CVideo>();
    std::string error;
    ASSERT_EQ(LoadVideoFile(*loaded, path, error), 1) << error;
    game.EndProcess();
    manager.InstallLoadedVideo(std::move(loaded));
    EXPECT_EQ(manager.GetWidth(), 2048);
    EXPECT_GE(manager.GetFrameBufferBytes(), 1064u + 2048u * 1536u);
    const DisplayFrame frame = manager.GetFrame(0);
    ASSERT_NE(frame.pixels, nullptr);
    EXPECT_EQ(frame.pixels[12345], 200);
}

TEST_F(ManagerTest, SheetsAreFoundBesideTheProgramWhenNotInTheWorkingDirectory)
{
    const auto empty =
        std::filesystem::temp_directory_path() / ("trellon-cwd-" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(empty);
    {
        CVideoManager without;
        EXPECT_EQ(without.GetFont1().GetCellCount(), 0);
        EXPECT_EQ(without.GetMissingSheets(),
                  (std::vector<std::string>{"font1.bmp", "font2.bmp", "units.bmp"}));
        CFakeDesktop::Get().SetProgramDirectory(TRELLON_SHEETS_DIR);
        CVideoManager beside;
        EXPECT_EQ(beside.GetFont1().GetCellCount(), 94);
        EXPECT_EQ(beside.GetFont2().GetCellCount(), 94);
        EXPECT_EQ(beside.GetUnits().GetCellCount(), 8);
        EXPECT_TRUE(beside.GetMissingSheets().empty());

        // Installed: the program in PREFIX/bin, its data in PREFIX/share/trellonhd.
        const auto prefix = empty / "prefix";
        std::filesystem::create_directories(prefix / "bin");
        std::filesystem::create_directories(prefix / "share" / "trellonhd");
        for (const char* name : {"font1.bmp", "font2.bmp", "units.bmp"})
            std::filesystem::copy_file(std::filesystem::path(TRELLON_SHEETS_DIR) / name,
                                       prefix / "share" / "trellonhd" / name);
        CFakeDesktop::Get().SetProgramDirectory((prefix / "bin").string());
        CVideoManager installed;
        EXPECT_EQ(installed.GetFont2().GetCellCount(), 94);
        EXPECT_EQ(installed.GetUnits().GetCellCount(), 8);

        // One sheet lost from the installation: only it is named.
        std::filesystem::remove(prefix / "share" / "trellonhd" / "font2.bmp");
        CVideoManager damaged;
        EXPECT_EQ(damaged.GetMissingSheets(), std::vector<std::string>{"font2.bmp"});
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(empty);
}

// The game's sound, through the fake sound system: recorded from the first
// frame on for the game's process, kept in the video and its journal, cut
// with a fragment, and left out when switched off.
TEST_F(ManagerTest, RecordsTheGameSoundBesideItsFramesAndJournalsIt)
{
    const std::filesystem::path folder = TestTempFolder() / "manager-sound-journal";
    std::filesystem::remove_all(folder);
    CVideoManager manager;
    manager.SetJournalFolder(folder.string());
    ASSERT_EQ(manager.CaptureFrame(), 1);
    EXPECT_EQ(fakesound::CapturePid(), 99u); // the window's process
    EXPECT_EQ(manager.GetSoundState(), CVideoManager::SoundState::Waiting);
    std::chrono::steady_clock::time_point origin;
    ASSERT_TRUE(manager.GetVideo().GetTimeOrigin(origin));
    // 1.55 s of a constant level, heard from 0.25 s on, in pieces of 10 ms:
    // three whole blocks by the next tick, the rest when the recording ends.
    for (int i = 0; i < 155; ++i)
        fakesound::Deliver(std::vector<std::int16_t>(960, 1000),
                           origin + std::chrono::milliseconds(250 + 10 * i));
    EXPECT_EQ(manager.GetSoundState(), CVideoManager::SoundState::Recording);
    ASSERT_EQ(manager.CaptureFrame(), 1); // takes the finished blocks
    EXPECT_EQ(manager.GetVideo().GetSound().BlockCount(), 3u);
    manager.StopRecording();
    EXPECT_FALSE(fakesound::CaptureRunning());
    const CSoundTrack& sound = manager.GetVideo().GetSound();
    EXPECT_EQ(sound.SampleCount(), 74400u);
    EXPECT_NEAR(static_cast<double>(sound.StartMicroseconds()), 250000, 1);

    // The journal holds it all: recovered, the file is the one Save writes.
    const std::string journal = manager.GetJournalPath();
    ASSERT_FALSE(journal.empty());
    manager.CloseJournal();
    JournalSummary summary;
    std::string error;
    const std::string recovered = (folder / "recovered.dk2").string();
    ASSERT_TRUE(RecoverJournal(journal, recovered, summary, error)) << error;
    EXPECT_EQ(summary.soundBlocks, 4);
    const std::string saved = (folder / "saved.dk2").string();
    ASSERT_EQ(manager.SaveVideo(saved), 1);
    CVideo a, b;
    ASSERT_TRUE(LoadVideoFile(a, recovered, error) && LoadVideoFile(b, saved, error)) << error;
    EXPECT_EQ(a.GetSound().SampleCount(), b.GetSound().SampleCount());
    EXPECT_EQ(a.GetSound().CompressedBytes(), b.GetSound().CompressedBytes());
}

TEST_F(ManagerTest, LeavesTheSoundOutWhenSwitchedOffOrUnavailable)
{
    {
        CVideoManager manager;
        manager.m_bRecordSound = 0;
        ASSERT_EQ(manager.CaptureFrame(), 1);
        EXPECT_FALSE(fakesound::CaptureRunning());
        EXPECT_EQ(manager.GetSoundState(), CVideoManager::SoundState::Off);
    }
    fakesound::SetCaptureRefusal("this system can't record one program's sound");
    CVideoManager manager;
    ASSERT_EQ(manager.CaptureFrame(), 1);
    ASSERT_EQ(manager.CaptureFrame(), 1); // the picture goes on
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 2);
    EXPECT_EQ(manager.GetSoundState(), CVideoManager::SoundState::Unavailable);
    EXPECT_EQ(manager.GetSoundProblem(), "this system can't record one program's sound");
    fakesound::SetCaptureRefusal("");
}

TEST_F(ManagerTest, AFragmentKeepsTheSoundOfItsFrames)
{
    CVideoManager manager;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(manager.CaptureFrame(), 1);
    CVideo& video = manager.GetVideo();
    for (int f = 0; f < 4; ++f)
        video.SetFrameTime(f, static_cast<float>(f)); // frames 1 s apart
    manager.StopRecording();
    // 4 s of sound from 0 s on whose level tells the second it is in.
    CSoundBlockWriter writer(48000, 2);
    std::vector<SoundBlock> blocks;
    std::string error;
    for (int second = 0; second < 4; ++second)
        ASSERT_TRUE(writer.Add(std::vector<std::int16_t>(96000, static_cast<std::int16_t>(100 * second)).data(),
                               48000, blocks, error));
    ASSERT_TRUE(writer.Flush(blocks, error));
    video.GetSound() = CSoundTrack(48000, 2, 0);
    for (SoundBlock& block : blocks)
        ASSERT_TRUE(video.GetSound().Append(std::move(block)));

    ASSERT_EQ(manager.ExtractFragment(1, 2), 1); // frames 2 and 3: 1 s .. 3 s
    const CSoundTrack& cut = manager.GetVideo().GetSound();
    ASSERT_EQ(cut.SampleCount(), 96000u);
    EXPECT_EQ(cut.StartMicroseconds(), 0);
    std::vector<std::int16_t> samples(2 * 96000);
    CSoundReader reader(cut);
    ASSERT_TRUE(reader.Read(0, 96000, samples.data()));
    EXPECT_EQ(samples.front(), 100);
    EXPECT_EQ(samples.back(), 200);
}
