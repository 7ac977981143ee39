#include "capture/Overlay.h"

#include "capture/GameLayout.h"
#include "desktop/fake/FakeDesktop.h"
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
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
constexpr std::uint32_t kScreen = 0x20000000;
constexpr std::uint32_t kUnits = 0x30000000;
constexpr std::uint32_t kMapTable = 0x31000000;

// Points the fake platform at assets/ before the manager loads its sheets,
// wherever the tests run from.
struct SheetsFromAssets
{
    SheetsFromAssets()
    {
        CFakeGame::Get().Reset();
        CFakeDesktop::Get().SetProgramDirectory(TRELLON_SHEETS_DIR);
    }
};

// A v2.0.2.0 game on its in-game screen, with players and units the tests set.
class OverlayTest : public ::testing::Test, private SheetsFromAssets
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(manager.GetFont1().GetCellCount(), 94) << "the sheets in assets/ did not load";
        game.Reset();
        game.ShowWindow("WARCRAFT II", 7);
        game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
        game.Write8(kVersionByteAddress, kVersionByte2020);
        game.Write32(0x004D4A90, 640u | (480u << 16));
        game.Write32(0x004D4A94, kScreen);
        std::vector<std::uint8_t> picture(640 * 480, 0x81);
        for (std::size_t i = 4; i < picture.size(); ++i)
            picture[i] = static_cast<std::uint8_t>(i % 97 + 1);
        picture[1] = picture[2] = picture[3] = 0x80; // the in-game signature 0x80808081
        game.Map(kScreen, picture);
        std::vector<std::uint8_t> palette(1024, 9);
        game.Write(0x004AE844, palette.data(), palette.size());
        game.Map(kUnits, std::vector<std::uint8_t>(0x10000, 0));
        game.Map(kMapTable, std::vector<std::uint8_t>(0x10000, 0));
        game.Write8(kMapWidth, 64);
        game.Write32(kMapUnitTable, kMapTable);
        manager.m_bShowStats = 1;
    }

    void Player(int i, std::uint8_t mask, std::int8_t colour, std::int32_t amount = 100)
    {
        game.Write32(kAmount1 + 4 * static_cast<std::uint32_t>(i),
                     static_cast<std::uint32_t>(amount));
        game.Write16(kUsedCount + 2 * static_cast<std::uint32_t>(i), 5);
        game.Write16(kLimitCount + 2 * static_cast<std::uint32_t>(i), 9);
        game.Write8(kPlayerName + 56 * static_cast<std::uint32_t>(i),
                    static_cast<std::uint8_t>('a' + i));
        game.Write8(kColourNumber + static_cast<std::uint32_t>(i),
                    static_cast<std::uint8_t>(colour));
        game.Write8(kAllyMask + static_cast<std::uint32_t>(i), mask);
    }

    // Unit n of the list: returns its pointer.
    std::uint32_t Unit(int n, int type, int owner, int hitPoints, int x = 0, int y = 0,
                       int action = 0, int trainType = 0, int energy = 0)
    {
        const std::uint32_t unit = kUnits + 256 * static_cast<std::uint32_t>(n);
        std::uint8_t record[256] = {};
        record[0] = static_cast<std::uint8_t>(x);
        record[1] = static_cast<std::uint8_t>(x >> 8);
        record[2] = static_cast<std::uint8_t>(y);
        record[3] = static_cast<std::uint8_t>(y >> 8);
        record[24] = static_cast<std::uint8_t>(x / 32);
        record[26] = static_cast<std::uint8_t>(y / 32);
        record[34] = static_cast<std::uint8_t>(hitPoints);
        record[35] = static_cast<std::uint8_t>(hitPoints >> 8);
        record[38] = static_cast<std::uint8_t>(energy);
        record[39] = static_cast<std::uint8_t>(type);
        record[44] = static_cast<std::uint8_t>(owner);
        record[46] = static_cast<std::uint8_t>(action);
        record[109] = static_cast<std::uint8_t>(trainType);
        game.Write(unit, record, sizeof(record));
        game.Write32(kUnitList + 4 * static_cast<std::uint32_t>(n), unit);
        game.Write32(kMapTable + 4 * static_cast<std::uint32_t>((y / 32) * 64 + x / 32), unit);
        return unit;
    }

    void TypeTable(int type, int maxHp, int width)
    {
        game.Write16(kMaxHitPoints + 2 * static_cast<std::uint32_t>(type),
                     static_cast<std::uint16_t>(maxHp));
        game.Write16(kTypeWidth + 4 * static_cast<std::uint32_t>(type),
                     static_cast<std::uint16_t>(width));
    }

    std::vector<std::uint8_t> Captured()
    {
        EXPECT_EQ(manager.CaptureFrame(), 1);
        const CVideo& video = manager.GetVideo();
        std::vector<std::uint8_t> out(640 * 480);
        EXPECT_EQ(video.GetFrame(video.GetFrameCount() - 1, out.data(), false), 1);
        return out;
    }

    static std::uint8_t At(const std::vector<std::uint8_t>& p, int x, int y)
    {
        return p[static_cast<std::size_t>(y * 640 + x)];
    }

    CFakeGame& game = CFakeGame::Get();
    CVideoManager manager;
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
    const int gap =
        manager.GetPanel().teamGap; // four teams, four out: (34 x 4 + 2) / 3 = 46, capped at 20
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
    const PanelState& s = manager.GetPanel();
    EXPECT_EQ(s.unitCount[0][1], 3);
    EXPECT_EQ(s.trainCount[0][1], 7);
    EXPECT_EQ(s.unitCount[0][3], 2);
    EXPECT_EQ(s.trainCount[0][5], 1);
    EXPECT_EQ(s.unitCount[0][2], 0);
    // Column 0 shows "3....." twice in the second font, the icon above it.
    FrameView expected{nullptr, 640, 480};
    std::vector<std::uint8_t> text(640 * 480, 0);
    expected.pixels = text.data();
    DrawString(expected, manager.GetFont2(), "3.....", 41, 205 + 14, 248);
    DrawString(expected, manager.GetFont2(), "3.....", 42, 205 + 15, 246);
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
    manager.m_bShowPlus = 1;
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
    manager.m_bShowPlus = 1;
    TypeTable(40, 0, 1);
    Unit(0, 40, 0, 30, 64, 64);
    const auto picture = Captured();
    EXPECT_NE(At(picture, 64 + 181, 64 + 20), 146);
    EXPECT_EQ(manager.GetVideo().GetFrameCount(), 1);
}

TEST_F(OverlayTest, PanelIsDrawnOnlyWithStatsOn)
{
    Player(0, 0x01, 0);
    manager.m_bShowStats = 0;
    auto picture = Captured();
    EXPECT_NE(At(picture, 172, 235), kPlayerColourBase[0] + 1);
    manager.m_bShowStats = 1;
    picture = Captured();
    EXPECT_EQ(At(picture, 172, 235), kPlayerColourBase[0] + 1);
}

TEST_F(OverlayTest, EnergyOfLaterTypesIsShownInPercent)
{
    Player(0, 0x01, 0);
    manager.m_bShowPlus = 1;
    TypeTable(60, 100, 1);
    TypeTable(40, 100, 1);
    Unit(0, 60, 0, 100, 64, 64, 0, 0, 128);  // left 245, top 84: "50%"
    Unit(1, 40, 0, 100, 256, 64, 0, 0, 128); // left 437: "128"
    const auto picture = Captured();
    std::vector<std::uint8_t> expected(640 * 480, 0);
    const FrameView frame{expected.data(), 640, 480};
    DrawString(frame, manager.GetFont1(), "50%", 245 + 3, 84 + 12, 253);
    DrawString(frame, manager.GetFont1(), "128", 437 + 3, 84 + 12, 253);
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
