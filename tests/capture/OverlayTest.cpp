// The statistics panel and the unit markers as a capture tick draws them
// into the frame it stores, over a fake v2.0.2.0 game, with the committed
// sheets; and the panel's team grouping on its own.

#include "capture/Overlay.h"

#include "capture/Capture.h"
#include "capture/GameLayout.h"
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"
#include "process/Process.h"
#include "process/fake/FakeGame.h"
#include "tests/support/V2020Scene.h"
#include "video/Video.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace gamemem;

namespace
{
// Players 0..count-1 present (a name, units, an amount), the rest out.
PanelState Players(std::initializer_list<std::uint8_t> masks, std::int32_t amount = 100)
{
    PanelState s;
    int i = 0;
    for (std::uint8_t mask : masks)
    {
        s.allyMask[i] = mask;
        s.playerName[i][0] = static_cast<char>('A' + i);
        s.usedCount[i] = 5;
        s.amount1[i] = amount;
        ++i;
    }
    return s;
}

std::vector<int> Order(const PanelState& s)
{
    return std::vector<int>(std::begin(s.order), std::end(s.order));
}
} // namespace

TEST(PanelTeams, AlliedPairAndALonePlayerMakeTwoTeamsWithACappedGap)
{
    PanelState s = Players({0x03, 0x03, 0x04});
    TeamMemory memory;
    PreparePlayers(s, memory);
    GroupPlayers(s, memory);
    EXPECT_EQ(Order(s), (std::vector<int>{0, 1, 2, -1, -1, -1, -1, -1}));
    EXPECT_EQ(s.teamCounter, 3);
    EXPECT_EQ(s.status[0], 1);
    EXPECT_EQ(s.status[2], 2);
    EXPECT_EQ(s.outCount, 5);
    EXPECT_EQ(s.teamGap, 20); // (34 x 5 + 2) / 1, capped
}

TEST(PanelTeams, FirstOfTwoEqualCandidatesWins)
{
    PanelState s = Players({0x05, 0x0A, 0x05, 0x0A});
    TeamMemory memory;
    PreparePlayers(s, memory);
    GroupPlayers(s, memory);
    EXPECT_EQ(Order(s), (std::vector<int>{0, 2, 1, 3, -1, -1, -1, -1}));
}

TEST(PanelTeams, PlayerWhoseMaskLacksItsOwnBitGetsNoRow)
{
    PanelState s = Players({0x02, 0x03});
    TeamMemory memory;
    PreparePlayers(s, memory);
    GroupPlayers(s, memory);
    EXPECT_EQ(Order(s), (std::vector<int>{1, -1, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(s.status[0], 0);
}

TEST(PanelTeams, GroupingFreezesAbove5000AndThawsBelow)
{
    TeamMemory memory;
    PanelState low = Players({0x03, 0x03, 0x04}, 1000);
    PreparePlayers(low, memory);
    GroupPlayers(low, memory);
    EXPECT_FALSE(memory.teamsFrozen);

    PanelState high = Players({0x03, 0x03, 0x04}, 2000); // 6000
    PreparePlayers(high, memory);
    GroupPlayers(high, memory);
    EXPECT_TRUE(memory.teamsFrozen);

    // Player 1 drops out and player 2 changes sides: the rows stay as they were.
    PanelState later = Players({0x03, 0x03, 0x07}, 3000);
    later.usedCount[1] = 0;
    later.amount1[1] = 0;
    PreparePlayers(later, memory);
    GroupPlayers(later, memory);
    EXPECT_EQ(Order(later), (std::vector<int>{0, 1, 2, -1, -1, -1, -1, -1}));
    EXPECT_EQ(later.status[1], 1);

    // Below 5000 with the grouping frozen: no rows this call, fresh grouping next.
    PanelState dropped = Players({0x07, 0x07, 0x07}, 100);
    PreparePlayers(dropped, memory);
    GroupPlayers(dropped, memory);
    EXPECT_FALSE(memory.teamsFrozen);
    EXPECT_EQ(Order(dropped), std::vector<int>(8, -1));
    PanelState next = Players({0x07, 0x07, 0x07}, 100);
    PreparePlayers(next, memory);
    GroupPlayers(next, memory);
    EXPECT_EQ(Order(next), (std::vector<int>{0, 1, 2, -1, -1, -1, -1, -1}));
}

namespace
{
// The capture's parts over a v2.0.2.0 game on its in-game screen, with the
// sheets of assets/ and the statistics panel switched on: each Captured()
// runs one capture tick and returns the frame it stored.
class OverlayTest : public ::testing::Test, protected CV2020Scene
{
protected:
    OverlayTest() : CV2020Scene(CFakeGame::Get()) {}

    void SetUp() override
    {
        ASSERT_EQ(font1.GetCellCount(), 94) << "the sheets in assets/ did not load";
        ASSERT_EQ(font2.GetCellCount(), 94) << "the sheets in assets/ did not load";
        ASSERT_EQ(units.GetCellCount(), 8) << "the sheets in assets/ did not load";
        Start();
        video.SetGeometry(width, width, height, 0, 0);
    }

    std::vector<std::uint8_t> Captured()
    {
        CaptureParts parts{process,
                           layout,
                           video,
                           frameBuffer.data(),
                           frameBuffer.size(),
                           width,
                           height,
                           font1,
                           font2,
                           units,
                           panelState,
                           teams,
                           showStats,
                           showPlus};
        CaptureOutcome outcome;
        EXPECT_EQ(CaptureTick(parts, outcome), 1);
        std::vector<std::uint8_t> out(640 * 480);
        EXPECT_EQ(video.GetFrame(video.GetFrameCount() - 1, out.data(), false), 1);
        return out;
    }

    static std::uint8_t At(const std::vector<std::uint8_t>& p, int x, int y)
    {
        return p[static_cast<std::size_t>(y * 640 + x)];
    }

    CFakeGame& game = CFakeGame::Get();
    CProcess process;
    CGameLayout layout;
    CVideo video;
    std::vector<std::uint8_t> frameBuffer =
        std::vector<std::uint8_t>(kDisplayHeaderBytes + 640 * 480);
    std::int32_t width = 640, height = 480;
    const CBitmap8Group font1{TRELLON_SHEETS_DIR "/font1.bmp", false};
    const CBitmap8Group font2{TRELLON_SHEETS_DIR "/font2.bmp", false};
    const CBitmap8Group units{TRELLON_SHEETS_DIR "/units.bmp", true};
    PanelState panelState;
    TeamMemory teams;
    bool showStats = true;
    bool showPlus = false;
};
} // namespace

TEST_F(OverlayTest, EightPlayersOfOneTeamGetRowsEvery34Pixels)
{
    for (int i = 0; i < 8; ++i)
        Player(i, 0xFF, static_cast<std::int8_t>(i));
    const auto picture = Captured();
    for (int r = 0; r < 8; ++r)
    {
        const int y = 205 + 34 * r;
        EXPECT_EQ(At(picture, 172, y + 30), kPlayerColourBase[r] + 1) << "row " << r;
        EXPECT_EQ(At(picture, 20, y + 32), 0) << "row " << r; // the black left part
    }
    EXPECT_EQ(At(picture, 172, 204), 0); // cleared above the first row
}

TEST_F(OverlayTest, HiddenThirdTeamRowStillMovesTheNextRowDown)
{
    Player(0, 0x01, 0, 2000);
    Player(1, 0x02, 1, 1000);
    Player(2, 0x04, 2, 0); // third team, amount 0 while the sum is above 2000
    game.Write16(kUsedCount + 4, 5);
    Player(3, 0x08, 3, 500);
    const auto picture = Captured();
    const int gap = panelState.teamGap; // four teams, four out: (34 x 4 + 2) / 3 = 46, capped at 20
    EXPECT_EQ(gap, 20);
    EXPECT_EQ(At(picture, 172, 205 + 30), kPlayerColourBase[0] + 1);
    EXPECT_EQ(At(picture, 172, 205 + 34 + gap + 30), kPlayerColourBase[1] + 1);
    EXPECT_EQ(At(picture, 172, 205 + 2 * (34 + gap) + 30), 0); // player 2's row is left empty
    EXPECT_EQ(At(picture, 172, 205 + 3 * (34 + gap) + 30), kPlayerColourBase[3] + 1);
}

TEST_F(OverlayTest, UnitsAreCountedByPairWithTrainingRules)
{
    Player(0, 0x01, 0);
    int n = 0;
    for (int k = 0; k < 3; ++k)
        Unit(n++, 2, 0, 50);
    for (int k = 0; k < 7; ++k)
        Unit(n++, 1, 0, 50, 0, 0, 37, 3); // training type 3: pair 1
    Unit(n++, 13, 0, 50);                 // folded onto 7: pair 3
    Unit(n++, 6, 0, 50);
    Unit(n++, 20, 0, 50, 0, 0, 37, 10); // type 10 trained by type 20: not counted
    Unit(n++, 80, 0, 50, 0, 0, 37, 11); // by type 80: counted in pair 5
    Unit(n++, 4, 0, 0);                 // no hit points: ignored
    Unit(n++, 4, 9, 50);                // owner 9: counted for no one
    const auto picture = Captured();
    const PanelState& s = panelState;
    EXPECT_EQ(s.unitCount[0][1], 3);
    EXPECT_EQ(s.trainCount[0][1], 7);
    EXPECT_EQ(s.unitCount[0][3], 2);
    EXPECT_EQ(s.trainCount[0][5], 1);
    EXPECT_EQ(s.unitCount[0][2], 0);
    // Column 0 shows "3....." twice in the second font, the icon above it.
    FrameView expected{nullptr, 640, 480};
    std::vector<std::uint8_t> text(640 * 480, 0);
    expected.pixels = text.data();
    DrawString(expected, font2, "3.....", 41, 205 + 14, 248);
    DrawString(expected, font2, "3.....", 42, 205 + 15, 246);
    int compared = 0;
    for (int y = 205 + 14; y < 205 + 24; ++y)
        for (int x = 41; x < 70; ++x)
            if (At(text, x, y) != 0)
            {
                EXPECT_EQ(At(picture, x, y), At(text, x, y)) << x << "," << y;
                ++compared;
            }
    EXPECT_GT(compared, 20);
}

TEST_F(OverlayTest, HealthBarIsScaledAndCut)
{
    Player(0, 0x01, 0);
    showPlus = true;
    game.Write8(kViewX, 10);
    game.Write8(kViewY, 0);
    TypeTable(40, 60, 1);
    Unit(0, 40, 0, 30, 320, 100); // left 181, top 120
    TypeTable(41, 60, 4);
    Unit(1, 41, 0, 10, 736, 200); // at the view's right edge: handled, cut at 624
    Unit(2, 41, 0, 10, 737, 300); // past it: nothing
    const auto picture = Captured();
    for (int row = 120; row < 123; ++row)
    {
        EXPECT_EQ(At(picture, 181, row), 200);
        EXPECT_EQ(At(picture, 191, row), 200);
        EXPECT_EQ(At(picture, 192, row), 146);
        EXPECT_EQ(At(picture, 202, row), 146);
        EXPECT_NE(At(picture, 203, row), 146);
    }
    EXPECT_NE(At(picture, 181, 123), 200);
    // 10 of 60: colour 168 from left 597 on, the bar cut at column 623.
    EXPECT_EQ(At(picture, 597, 220), 168);
    EXPECT_EQ(At(picture, 623, 220), 146);
    EXPECT_NE(At(picture, 624, 220), 146);
    EXPECT_NE(At(picture, 598, 320), 168);
}

TEST_F(OverlayTest, TypeWithoutHitPointsGetsNoMarker)
{
    Player(0, 0x01, 0);
    showPlus = true;
    TypeTable(40, 0, 1);
    Unit(0, 40, 0, 30, 64, 64);
    const auto picture = Captured();
    EXPECT_NE(At(picture, 64 + 181, 64 + 20), 146);
    EXPECT_EQ(video.GetFrameCount(), 1);
}

TEST_F(OverlayTest, EnergyOfLaterTypesIsShownInPercent)
{
    Player(0, 0x01, 0);
    showPlus = true;
    TypeTable(60, 100, 1);
    TypeTable(40, 100, 1);
    Unit(0, 60, 0, 100, 64, 64, 0, 0, 128);  // left 245, top 84: "50%"
    Unit(1, 40, 0, 100, 256, 64, 0, 0, 128); // left 437: "128"
    const auto picture = Captured();
    std::vector<std::uint8_t> expected(640 * 480, 0);
    const FrameView frame{expected.data(), 640, 480};
    DrawString(frame, font1, "50%", 245 + 3, 84 + 12, 253);
    DrawString(frame, font1, "128", 437 + 3, 84 + 12, 253);
    int compared = 0;
    for (int y = 84 + 12; y < 84 + 20; ++y)
        for (int x = 240; x < 480; ++x)
        {
            EXPECT_EQ(At(picture, x, y) == 253, At(expected, x, y) == 253) << x << "," << y;
            compared += At(expected, x, y) == 253;
        }
    EXPECT_GT(compared, 20);
}

TEST_F(OverlayTest, WholePanelMatchesItsGoldenImage)
{
    // A fixed game: three players in two teams with units, training and
    // damage, drawn with the sheets in assets/.
    Player(0, 0x05, 0, 1234);
    Player(1, 0x02, 5, 2345);
    Player(2, 0x05, 2, 345);
    game.Write8(kLevelPart1 + 1, 3);
    game.Write32(kFlagWord + 4, 1u << 11);
    int n = 0;
    for (int k = 0; k < 4; ++k)
        Unit(n++, 2, 0, 50);
    Unit(n++, 1, 0, 50, 0, 0, 37, 0);
    Unit(n++, 7, 1, 50);
    Unit(n++, 11, 1, 50);
    Unit(n++, 81, 1, 50, 0, 0, 37, 11);
    Unit(n++, 6, 2, 50);
    const auto picture = Captured();
    std::vector<std::uint8_t> panel;
    for (int y = 204; y < 480; ++y)
        for (int x = 0; x < 174; ++x)
            panel.push_back(At(picture, x, y));

    const std::string path = std::string(TRELLON_TEST_DATA_DIR) + "/golden/overlay-panel.raw";
    if (std::getenv("TRELLON_WRITE_GOLDEN") != nullptr)
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(panel.data(), 1, panel.size(), out);
        std::fclose(out);
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr) << path;
    std::vector<std::uint8_t> golden(panel.size() + 1);
    const std::size_t got = std::fread(golden.data(), 1, golden.size(), in);
    std::fclose(in);
    ASSERT_EQ(got, panel.size()) << "the golden panel is 174 x 276 bytes";
    golden.resize(got);
    int differing = 0;
    for (std::size_t i = 0; i < panel.size(); ++i)
        differing += panel[i] != golden[i];
    EXPECT_EQ(differing, 0) << "pixels of the panel differ from " << path;
}
