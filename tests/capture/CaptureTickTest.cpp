// What a capture tick notices about the game, and what noticing costs it:
// the platform calls the fake game counts.

#include "capture/Capture.h"
#include "capture/GameLayout.h"
#include "drawing/Bitmap8Group.h"
#include "process/Process.h"
#include "process/fake/FakeGame.h"
#include "video/Video.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{
constexpr std::uint32_t kScreen = 0x20000000;
constexpr int kWidth = 320, kHeight = 200;

class CaptureTickTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        game.Reset();
        StartGame(31, kVersionByte2020);
        video.SetGeometry(width, width, height, 0, 0);
    }

    // A game of the given build under a new process id, with a picture,
    // palette and cursor at its build's addresses.
    void StartGame(PlatformPid pid, std::uint8_t version)
    {
        game.EndProcess();
        game.ShowWindow("WARCRAFT II", pid);
        const bool v2020 = version == kVersionByte2020;
        game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
        game.Write8(kVersionByteAddress, version);
        game.Write32(v2020 ? 0x004D4A94 : 0x004D4AE4, kScreen);
        game.Write32(v2020 ? 0x004D4A90 : 0x004D4AE0, kWidth | (kHeight << 16));
        std::vector<std::uint8_t> palette(1024, 0x40); // a palette of zeros is not recorded
        game.Write(v2020 ? 0x004AE844 : 0x004AE894, palette.data(), palette.size());
        std::vector<std::uint8_t> picture(kWidth * kHeight);
        for (std::size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<std::uint8_t>(i * 7 % 251);
        game.Map(kScreen, picture);
    }

    int Tick()
    {
        CaptureParts parts{process, layout, video, frame.data(), frame.size(), width,
                           height,  font,   font,  font,         panel,        teams};
        CaptureOutcome outcome;
        return CaptureTick(parts, outcome);
    }

    CFakeGame& game = CFakeGame::Get();
    CProcess process;
    CGameLayout layout;
    CVideo video;
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kDisplayHeaderBytes + 640 * 480);
    std::int32_t width = kWidth, height = kHeight;
    CBitmap8Group font{"", false}; // no overlay is drawn here
    PanelState panel;
    TeamMemory teams;
};
} // namespace

TEST_F(CaptureTickTest, RunningGameIsNeitherSearchedForNorListedAgainOnEveryTick)
{
    ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    EXPECT_EQ(game.WindowSearches(), 1);
    EXPECT_EQ(game.ModuleListings(), 1); // the first look for a wrapper
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(video.GetFrameCount(), 6);
    // Five ticks take far less than the wrapper's look interval.
    EXPECT_EQ(game.WindowSearches(), 1);
    EXPECT_EQ(game.ModuleListings(), 1);
    EXPECT_EQ(game.OpenCount(), 1);
}

TEST_F(CaptureTickTest, EndedGameIsNoticedAtTheNextTickAndAnotherBuildAfterIt)
{
    ASSERT_EQ(Tick(), 1);
    ASSERT_EQ(layout.GetKind(), GK_V2020);

    game.EndProcess();
    EXPECT_EQ(Tick(), 0);
    EXPECT_EQ(game.OpenHandles(), 0);
    EXPECT_EQ(layout.GetKind(), GK_UNKNOWN);
    EXPECT_EQ(video.GetFrameCount(), 1);

    // The other build, started under another id: found, recognised and
    // looked at for a wrapper at once.
    StartGame(32, kVersionByte2021);
    const int listings = game.ModuleListings();
    EXPECT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2021);
    EXPECT_EQ(game.ModuleListings(), listings + 1);
    EXPECT_EQ(video.GetFrameCount(), 2);
}

TEST_F(CaptureTickTest, GameRestartedUnderTheSameIdIsTakenAsANewGame)
{
    ASSERT_EQ(Tick(), 1);
    game.EndProcess();
    game.StartProcess(); // the id handed to a new run before the next tick
    game.ShowWindow("WARCRAFT II", 31);
    game.Write8(kVersionByteAddress, kVersionByte2021);
    game.Write32(0x004D4AE4, kScreen);
    game.Write32(0x004D4AE0, kWidth | (kHeight << 16));
    EXPECT_EQ(Tick(), 0); // the held handle is of the ended run
    EXPECT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2021);
    EXPECT_EQ(game.OpenCount(), 2);
}
