// What a capture tick notices about the game, and what noticing costs it:
// the platform calls the fake game counts.

#include "base/ByteOrder.h"
#include "capture/Capture.h"
#include "capture/GameLayout.h"
#include "drawing/Bitmap8Group.h"
#include "process/Process.h"
#include "process/fake/FakeGame.h"
#include "tools/pe/PeImage.h"
#include "video/Video.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{
constexpr std::uint32_t kScreen = 0x20000000;
constexpr std::uint32_t kWrapperScreen = 0x28000000;
constexpr std::uint32_t kDdrawBase = 0x10000000;
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

    // A "ddraw.dll" whose pvBmpBits points at a picture unlike the game's own.
    void LoadWrapper()
    {
        CPeImageBuilder builder;
        const std::uint32_t rva = builder.AddData("pvBmpBits", 0x10);
        std::vector<std::uint8_t> image = builder.BuildModule("ddraw.dll", kDdrawBase);
        StoreLe32(image.data() + rva, kWrapperScreen);
        game.Map(kDdrawBase, image);
        game.AddModule("ddraw.dll", kDdrawBase);
        game.Map(kWrapperScreen, WrapperPicture());
    }

    static std::vector<std::uint8_t> WrapperPicture()
    {
        std::vector<std::uint8_t> picture(kWidth * kHeight);
        for (std::size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<std::uint8_t>(i * 3 % 241);
        return picture;
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

TEST_F(CaptureTickTest, RunningGameIsNotSearchedForAgainOnEveryTick)
{
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    EXPECT_EQ(video.GetFrameCount(), 6);
    EXPECT_EQ(game.WindowSearches(), 1);
    EXPECT_EQ(game.OpenCount(), 1);
}

TEST_F(CaptureTickTest, WrapperLoadedWhileTheGameStartsIsRecordedFromTheNextTick)
{
    // The game's own picture first; then, between two ticks, the wrapper
    // comes with a picture of its own. These ticks lie microseconds apart,
    // far inside a new game's early window.
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    ASSERT_EQ(Tick(), 1);
    ASSERT_EQ(video.GetFrame(0, picture.data(), false), 1);
    EXPECT_EQ(picture[1], 7);

    LoadWrapper();
    const int listings = game.ModuleListings();
    ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW);
    ASSERT_EQ(video.GetFrame(1, picture.data(), false), 1);
    EXPECT_EQ(picture, WrapperPicture());

    // Found, it is not looked for again.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(game.ModuleListings(), listings + 1);

    // Nor is a wrapper the next game loads as it starts missed: the tick
    // that finds the game gone resets the layout.
    game.EndProcess();
    ASSERT_EQ(Tick(), 0);
    StartGame(32, kVersionByte2021);
    game.ClearModules();
    ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2021);
    LoadWrapper();
    ASSERT_EQ(Tick(), 1);
    EXPECT_EQ(layout.GetKind(), GK_V2021_DDRAW);
    ASSERT_EQ(video.GetFrame(video.GetFrameCount() - 1, picture.data(), false), 1);
    EXPECT_EQ(picture, WrapperPicture());
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
