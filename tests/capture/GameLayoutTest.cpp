#include "capture/GameLayout.h"

#include "process/Process.h"
#include "process/fake/FakeGame.h"
#include "tests/support/ErrorOf.h"
#include "tools/pe/PeImage.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace
{
constexpr std::uint32_t kDdrawBase = 0x10000000;
// Detect's clock, set by the tests: any time serves as the start.
const CGameLayout::Clock::time_point kStart{std::chrono::hours(1000)};
constexpr auto kInterval = CGameLayout::kWrapperLookInterval;
constexpr auto kEarlyWindow = CGameLayout::kWrapperEarlyWindow;
// The period of ticks at 100 frames a second.
constexpr std::chrono::milliseconds kTick{10};

class GameLayoutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        game.Reset();
        game.ShowWindow("WARCRAFT II", 77);
        ASSERT_TRUE(process.Attach());
    }

    void Version(std::uint8_t value) { game.Write8(kVersionByteAddress, value); }

    // Loads a "ddraw.dll" exporting pvBmpBits; returns the variable's address.
    std::uint32_t LoadWrapper(const std::string& moduleName = "ddraw.dll")
    {
        CPeImageBuilder builder;
        const std::uint32_t rva = builder.AddData("pvBmpBits", 0x10);
        game.Map(kDdrawBase, builder.BuildModule("ddraw.dll", kDdrawBase));
        game.AddModule(moduleName, kDdrawBase);
        return kDdrawBase + rva;
    }

    CFakeGame& game = CFakeGame::Get();
    CProcess process;
    CGameLayout layout;
};
} // namespace

TEST_F(GameLayoutTest, PlainV2020UsesItsOwnScreenPointer)
{
    Version(0x3D);
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), 0x004D4A94u);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_SIZE), 0x004D4A90u);
    EXPECT_STREQ(GameKindText(layout.GetKind()), "war2 v2.0.2.0");
}

TEST_F(GameLayoutTest, WrapperLoadedLaterMovesKindOneToThree)
{
    Version(0x3D);
    layout.Detect(process, kStart);
    ASSERT_EQ(layout.GetKind(), GK_V2020);
    const std::uint32_t bits = LoadWrapper();
    layout.Detect(process, kStart + kInterval);
    EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), bits);
    EXPECT_EQ(layout.GetAddress(GA_PALETTE), 0x004AE844u);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_POINTER), 0x004D4A94u);

    // Found once, not looked for again.
    const int listings = game.ModuleListings();
    layout.Detect(process, kStart + 10 * kInterval);
    EXPECT_EQ(game.ModuleListings(), listings);
}

TEST_F(GameLayoutTest, WrapperLoadedWhileTheGameStartsIsFoundByTheNextDetect)
{
    // Loaded just after the game was met, in the middle of its start and
    // just before the early window ends; ticks 10 ms apart until then.
    Version(0x3D);
    auto start = kStart;
    for (const auto loadedAfter :
         {kTick, std::chrono::milliseconds(2000), std::chrono::milliseconds(kEarlyWindow) - kTick})
    {
        game.ClearModules();
        layout.Reset();
        const int listings = game.ModuleListings();
        int ticks = 0;
        for (auto now = start; now < start + loadedAfter; now += kTick, ++ticks)
            layout.Detect(process, now);
        ASSERT_EQ(layout.GetKind(), GK_V2020);
        EXPECT_EQ(game.ModuleListings(), listings + ticks) << "every tick looks";

        const std::uint32_t bits = LoadWrapper();
        layout.Detect(process, start + loadedAfter);
        EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW) << "loaded " << loadedAfter.count() << " ms in";
        EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), bits);
        start += 2 * kEarlyWindow;
    }
}

TEST_F(GameLayoutTest, EarlyLooksThatCostMuchLeaveTicksBetweenThem)
{
    // Each look takes 20 ms of the real clock: the next one waits four times
    // that, so ticks 10 ms apart look only every eighth tick or so, and a
    // wrapper is still found by the first look after it loads.
    Version(0x3D);
    game.SlowModuleList(std::chrono::milliseconds(20));
    layout.Detect(process, kStart);
    EXPECT_EQ(game.ModuleListings(), 1);
    layout.Detect(process, kStart + kTick);
    layout.Detect(process, kStart + 2 * kTick);
    EXPECT_EQ(game.ModuleListings(), 1) << "a dear look spaces the next";

    LoadWrapper();
    const auto next = kStart + std::chrono::milliseconds(200);
    layout.Detect(process, next);
    EXPECT_EQ(game.ModuleListings(), 2);
    EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW);
}

TEST_F(GameLayoutTest, AfterTheEarlyWindowAMissingWrapperIsLookedForOncePerInterval)
{
    Version(0x3D);
    layout.Detect(process, kStart);
    const auto lastEarly = kStart + kEarlyWindow - std::chrono::milliseconds(1);
    layout.Detect(process, lastEarly);
    EXPECT_EQ(game.ModuleListings(), 2);
    EXPECT_EQ(game.WindowSearches(), 1); // Attach's, none for the lookup

    // Past the window the lookup is not repeated within the interval from
    // the last look, so a wrapper loaded meanwhile is not seen yet.
    LoadWrapper();
    layout.Detect(process, kStart + kEarlyWindow);
    layout.Detect(process, lastEarly + kInterval - std::chrono::milliseconds(1));
    EXPECT_EQ(game.ModuleListings(), 2);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), 0x004D4A94u);

    // A tick late: the next look counts from this one.
    game.ClearModules();
    const auto late = lastEarly + kInterval + std::chrono::milliseconds(7);
    layout.Detect(process, late);
    EXPECT_EQ(game.ModuleListings(), 3);
    game.AddModule("ddraw.dll", kDdrawBase);
    layout.Detect(process, late + kInterval - std::chrono::milliseconds(1));
    EXPECT_EQ(game.ModuleListings(), 3);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    layout.Detect(process, late + kInterval);
    EXPECT_EQ(game.ModuleListings(), 4);
    EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW);
}

TEST_F(GameLayoutTest, EachGameHasAnEarlyWindowOfItsOwn)
{
    // The first game runs without a wrapper well past its early window.
    Version(0x3D);
    layout.Detect(process, kStart);
    const auto later = kStart + 3 * kEarlyWindow;
    layout.Detect(process, later);
    ASSERT_EQ(layout.GetKind(), GK_V2020);

    // It ends and another starts, which loads its wrapper between two ticks.
    layout.Reset();
    game.EndProcess();
    game.ShowWindow("WARCRAFT II", 78);
    ASSERT_FALSE(process.Attach());
    ASSERT_TRUE(process.Attach());
    layout.Detect(process, later + kTick);
    ASSERT_EQ(layout.GetKind(), GK_V2020);
    const std::uint32_t bits = LoadWrapper();
    layout.Detect(process, later + 2 * kTick);
    EXPECT_EQ(layout.GetKind(), GK_V2020_DDRAW);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), bits);
}

TEST_F(GameLayoutTest, AfterResetTheNextGameIsExaminedAtOnce)
{
    Version(0x3D);
    layout.Detect(process, kStart);
    ASSERT_EQ(layout.GetKind(), GK_V2020);
    layout.Reset(); // the game ended

    // Another game, of the other build and with its wrapper, a moment later.
    game.EndProcess();
    game.ShowWindow("WARCRAFT II", 78);
    ASSERT_FALSE(process.Attach()); // drops the ended game
    ASSERT_TRUE(process.Attach());
    Version(0x8B);
    const std::uint32_t bits = LoadWrapper();
    layout.Detect(process, kStart + std::chrono::milliseconds(1));
    EXPECT_EQ(layout.GetKind(), GK_V2021_DDRAW);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), bits);
}

TEST_F(GameLayoutTest, V2021WithAWrapperPresentAtOnceIsKindFour)
{
    Version(0x8B);
    const std::uint32_t bits = LoadWrapper();
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GK_V2021_DDRAW);
    EXPECT_EQ(layout.GetAddress(GA_SCREEN_BITS), bits);
    EXPECT_EQ(layout.GetAddress(GA_CURSOR), 0x004D5184u);
    EXPECT_STREQ(GameKindText(layout.GetKind()), "war2 2.0.2.1 ddraw");
}

TEST_F(GameLayoutTest, WrapperNameIgnoresAsciiCase)
{
    Version(0x8B);
    LoadWrapper("DDRAW.DLL");
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GK_V2021_DDRAW);
}

TEST_F(GameLayoutTest, UnknownVersionByteIsReadAgainAndAddressesRaiseX10)
{
    Version(0x00);
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GK_UNKNOWN);
    EXPECT_EQ(ErrorOf([&] { layout.GetAddress(GA_SCREEN_SIZE); }), "x10");
    EXPECT_EQ(ErrorOf([&] { layout.GetAddress(GA_SCREEN_BITS); }), "x10");
    Version(0x3D);
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
}

TEST_F(GameLayoutTest, KnownKindDoesNotReadTheVersionAgainWhileTheWrapperStaysMissing)
{
    Version(0x3D);
    layout.Detect(process, kStart);
    Version(0x8B); // a changed byte would show if it were read again
    const int listings = game.ModuleListings();
    layout.Detect(process, kStart + kInterval);
    EXPECT_EQ(layout.GetKind(), GK_V2020);
    EXPECT_GT(game.ModuleListings(), listings); // the wrapper lookup repeats
}

TEST_F(GameLayoutTest, UnreadableVersionByteRaisesX6AndKeepsTheKind)
{
    // Nothing is mapped at the version byte: the read fails.
    EXPECT_EQ(ErrorOf([&] { layout.Detect(process); }), "x6");
    EXPECT_EQ(layout.GetKind(), GK_UNKNOWN);
    Version(0x3D);
    layout.Detect(process);
    ASSERT_EQ(layout.GetKind(), GK_V2020);
    game.Unmap(kVersionByteAddress);
    layout.Detect(process); // not read again, so no error
    EXPECT_EQ(layout.GetKind(), GK_V2020);
}

TEST_F(GameLayoutTest, ResetForgetsKindAndWrapper)
{
    Version(0x3D);
    LoadWrapper();
    layout.Detect(process);
    ASSERT_EQ(layout.GetKind(), GK_V2020_DDRAW);
    layout.Reset();
    EXPECT_EQ(layout.GetKind(), GK_UNKNOWN);
    EXPECT_EQ(layout.GetWrapperBits(), 0u);
    EXPECT_EQ(ErrorOf([&] { layout.GetAddress(GA_SCREEN_BITS); }), "x10");
}
