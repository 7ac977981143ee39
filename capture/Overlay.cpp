// The player statistics panel drawn over the lower part of the game's left
// panel: one row per player, grouped into teams from the alliance masks.

#include "capture/Overlay.h"

#include "capture/Capture.h"
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"
#include "process/Process.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace
{
// The panel's place in the frame. The game's left panel keeps its content
// in the columns left of kPanelWidth; the overlay moves the rows from
// kPanelShift to kShiftedRowsEnd up by kPanelShift (as ShiftPanelUp does)
// and takes everything from kPanelTop down for the player rows.
constexpr int kPanelWidth = 174;
constexpr int kPanelShift = 24;
constexpr int kShiftedRowsEnd = 228;
constexpr int kPanelTop = kShiftedRowsEnd - kPanelShift; // 204
// The rows: one blank row under the game's panel, then a row per player,
// kRowHeight apart within a team and teamGap (at most kMaxTeamGap) more
// between teams.
constexpr int kFirstRowY = kPanelTop + 1;
constexpr int kRowHeight = 34;
constexpr int kMaxTeamGap = 20;

// Inside a row, from its top: a black part kFiguresWidth wide with the
// player's first and second amounts and used/limit counts, the rest a band
// in the player's colour with the name and level, and below them the icons
// of four unit pairs kIconStep apart, each with its unit count and a dot per
// unit in training (at most kMaxDots).
constexpr int kFiguresWidth = 38;
constexpr int kFiguresX = 1;
constexpr int kAmount2Y = 11;
constexpr int kCountsY = 24;
constexpr int kNameX = 45;
constexpr int kFirstIconX = 40;
constexpr int kIconStep = 30;
constexpr int kIconY = 8;
constexpr int kIconCountY = 14;
constexpr int kMaxDots = 5;
constexpr int kIconPair[4] = {1, 0, 3, 5}; // unit types 2, 0, 6, 10
constexpr int kIconCell[4] = {0, 2, 4, 6}; // plus 1 for the other side
// Text colours (palette indices). The icon's count is drawn twice, in
// kIconCountBackColour and one pixel right and down in kIconCountColour.
constexpr std::uint8_t kNameColour = 255;
constexpr std::uint8_t kAmount1Colour = 200;
constexpr std::uint8_t kAmount2Colour = 153;
constexpr std::uint8_t kCountsColour = 120;
constexpr std::uint8_t kIconCountBackColour = 248;
constexpr std::uint8_t kIconCountColour = 246;
// Row band colour for a colour number the table doesn't know: colour 0's.
constexpr std::uint8_t kFallbackRowColour = 209;

// Unit types below kCountedTypes are counted, two to a pair.
constexpr int kCountedTypes = 2 * PanelState::kPairs;
// Training of kTrainerOnlyPair's types (10 and 11) counts only in units of
// kTrainerTypes; in any other unit it is left out.
constexpr int kTrainerOnlyPair = 5;
constexpr int kTrainerTypes[2] = {80, 81};

// A row of the third team or later may be left empty (its place kept):
// see IsRowHidden.
constexpr int kTeamsAlwaysShown = 2;
constexpr std::int32_t kHideWithoutAmountAbove = 2000;
// Above this sum of the first amounts the grouping freezes, below it thaws
// (TeamMemory).
constexpr std::int32_t kFreezeAmount = 5000;

int FoldType(int type)
{
    return type == 12 || type == 13 ? type - 6 : type;
}
} // namespace

void PreparePlayers(PanelState& s, const TeamMemory& memory)
{
    std::uint32_t sum1 = 0, sumLimit = 0; // wrapping, as 32-bit sums do
    for (int i = 0; i < PanelState::kPlayers; ++i)
    {
        sum1 += static_cast<std::uint32_t>(s.amount1[i]);
        sumLimit += static_cast<std::uint32_t>(static_cast<std::int32_t>(s.limitCount[i]));
        const std::uint32_t flags = s.flagWord[i];
        s.levelFlag[i] = static_cast<std::int32_t>((flags >> 11) & 1);
        s.level[i] = static_cast<std::int8_t>(
            static_cast<std::uint8_t>(s.levelPart1[i] + s.levelPart2[i] + ((flags >> 18) & 1) +
                                      ((flags >> 11) & 1) + ((flags >> 20) & 1) + 1));
    }
    s.sumAmount1 = static_cast<std::int32_t>(sum1);
    s.sumLimit = static_cast<std::int32_t>(sumLimit);
    s.outCount = 0;
    for (int i = 0; i < PanelState::kPlayers; ++i)
    {
        const bool out = (s.playerName[i][0] == 0 && s.usedCount[i] == 0) ||
                         (s.usedCount[i] <= 0 && s.amount1[i] <= 0);
        s.status[i] = memory.teamsFrozen ? memory.savedStatus[i] : (out ? -1 : 0);
        if (s.status[i] == -1)
            ++s.outCount;
    }
}

void GroupPlayers(PanelState& s, TeamMemory& memory)
{
    if (!memory.teamsFrozen)
    {
        std::fill(std::begin(s.order), std::end(s.order), -1);
        int n = 0, team = 0;
        for (;;)
        {
            ++team;
            // The first mask with the most members, all present and all
            // allied with every member.
            int best = 0, bestMembers = 0;
            for (int m = 1; m <= 255; ++m)
            {
                bool valid = true;
                for (int i = 0; i < PanelState::kPlayers && valid; ++i)
                    if ((m >> i) & 1)
                        valid = s.status[i] == 0 && (s.allyMask[i] & m) == m;
                const int members = std::popcount(static_cast<unsigned>(m));
                if (valid && members > bestMembers)
                {
                    best = m;
                    bestMembers = members;
                }
            }
            if (best == 0)
            {
                s.teamCounter = team;
                break;
            }
            for (int i = 0; i < PanelState::kPlayers; ++i)
                if ((best >> i) & 1)
                {
                    s.order[n++] = i;
                    s.status[i] = team;
                }
        }
    }

    const auto restore = [&]
    {
        std::copy(std::begin(memory.savedStatus), std::end(memory.savedStatus), s.status);
        std::copy(std::begin(memory.savedOrder), std::end(memory.savedOrder), s.order);
        s.teamCounter = memory.savedTeamCounter;
    };
    if (s.sumAmount1 < kFreezeAmount)
        memory.teamsFrozen = false;
    else if (s.sumAmount1 > kFreezeAmount)
    {
        if (!memory.teamsFrozen)
        {
            std::copy(std::begin(s.status), std::end(s.status), memory.savedStatus);
            std::copy(std::begin(s.order), std::end(s.order), memory.savedOrder);
            memory.savedTeamCounter = s.teamCounter;
            memory.teamsFrozen = true;
        }
        restore();
    }
    else if (memory.teamsFrozen)
        restore();

    const int teams = s.teamCounter - 1;
    s.teamGap = teams <= 1 ? 0 : std::min((kRowHeight * s.outCount + 2) / (teams - 1), kMaxTeamGap);
}

namespace
{
// Moves the game's panel content up to make room for the rows and clears
// the room; the cursor moves with the content it lies on.
void MakeRoomForPanel(const FrameView& frame, std::uint32_t& cursor)
{
    const std::uint32_t cx = cursor & 0xFFFFu, cy = cursor >> 16;
    if (cx < kPanelWidth && cy >= kPanelShift && cy < kShiftedRowsEnd)
        cursor = cx | ((cy - kPanelShift) << 16);
    ShiftPanelUp(frame);
    FillFrameRect(frame, 0, kPanelTop, kPanelWidth, frame.height, 0);
}

// The players' tables into a cleared state; false when a read came short.
bool ReadPlayers(CProcess& game, PanelState& s)
{
    using namespace gamemem;
    if (!game.ReadBlock(kAmount1, s.amount1, sizeof(s.amount1)) ||
        !game.ReadBlock(kAmount2, s.amount2, sizeof(s.amount2)) ||
        !game.ReadBlock(kUsedCount, s.usedCount, sizeof(s.usedCount)) ||
        !game.ReadBlock(kLimitCount, s.limitCount, sizeof(s.limitCount)) ||
        !game.ReadBlock(kPlayerName, s.playerName, sizeof(s.playerName)) ||
        !game.ReadBlock(kColourNumber, s.colourNumber, sizeof(s.colourNumber)) ||
        !game.ReadBlock(kAllyMask, s.allyMask, sizeof(s.allyMask)) ||
        !game.ReadBlock(kLevelPart1, s.levelPart1, sizeof(s.levelPart1)) ||
        !game.ReadBlock(kLevelPart2, s.levelPart2, sizeof(s.levelPart2)) ||
        !game.ReadBlock(kFlagWord, s.flagWord, sizeof(s.flagWord)))
        return false;
    for (auto& name : s.playerName)
        name[sizeof(name) - 1] = '\0'; // a name fills at most its record
    return true;
}

bool CountsAsTraining(int trainedPair, int trainerType)
{
    return trainedPair != kTrainerOnlyPair || trainerType == kTrainerTypes[0] ||
           trainerType == kTrainerTypes[1];
}

// One walk over the game's unit list, the tick's only one: each player's
// units and units in training by pair, and with showPlus a marker over
// every unit in view. Runs once per unit; it allocates nothing and reads
// each unit's head in one block.
void WalkUnits(CaptureParts& parts, PanelState& s)
{
    using namespace gamemem;
    CProcess& game = parts.process;
    const int viewX = game.ReadByte(kViewX);
    const int viewY = game.ReadByte(kViewY);
    for (int slot = 0; slot < kMaxUnits; ++slot)
    {
        const std::uint32_t unit = game.ReadDword(kUnitList + 4 * static_cast<std::uint32_t>(slot));
        if (unit == 0)
            break;
        std::uint8_t bytes[UnitRecord::kBytes];
        if (!game.ReadBlock(unit, bytes, sizeof(bytes)))
            break;
        const UnitRecord record = UnitRecord::Parse(bytes);
        if ((record.stateFlags & 2) != 0 || record.hitPoints == 0)
            continue;
        const int owner = record.owner;
        const int ownType = record.type;
        if (record.action == kActionTraining)
        {
            const int trained = FoldType(game.ReadByte(unit + kUnitTrainedType));
            const int pair = trained / 2;
            if (owner < PanelState::kPlayers && trained < kCountedTypes &&
                CountsAsTraining(pair, ownType))
                ++s.trainCount[owner][pair];
        }
        const bool counted = owner < PanelState::kPlayers && ownType < kCountedTypes;
        int type = ownType;
        if (counted)
        {
            type = FoldType(ownType);
            ++s.unitCount[owner][type / 2];
            s.raceBalance[owner] += (type & 1) ? 1 : -1;
        }
        if (parts.showPlus)
            DrawUnitMarker(parts, record, unit, type, counted, viewX, viewY);
    }
}

// A row of the third team or later stays empty when its player has none of
// the first amount while all players together hold more than
// kHideWithoutAmountAbove, or has no limit while the players present (plus
// one, so that the division never is by zero) average more than one.
bool IsRowHidden(const PanelState& s, int p)
{
    const int presentPlusOne = PanelState::kPlayers + 1 - s.outCount;
    return s.status[p] > kTeamsAlwaysShown &&
           ((s.sumAmount1 > kHideWithoutAmountAbove && s.amount1[p] == 0) ||
            (s.limitCount[p] == 0 && s.sumLimit / presentPlusOne > 1));
}

// The icons of player p's four unit pairs in the row at y, each with the
// count of units and a dot for each one in training.
void DrawUnitIcons(const CaptureParts& parts, const FrameView& frame, const PanelState& s, int p,
                   int y)
{
    static const char kDots[] = ".....";
    static_assert(sizeof(kDots) == kMaxDots + 1);
    char text[128];
    for (int j = 0; j < 4; ++j)
    {
        const int n = s.unitCount[p][kIconPair[j]], t = s.trainCount[p][kIconPair[j]];
        if (n + t == 0)
            continue;
        const int x = kIconStep * j + kFirstIconX;
        DrawSprite(frame, parts.units,
                   static_cast<std::uint32_t>(kIconCell[j] + (s.raceBalance[p] > 0 ? 1 : 0)), x,
                   y + kIconY, s.colourNumber[p]);
        std::snprintf(text, sizeof(text), "%d%s", n, kDots + kMaxDots - std::min(t, kMaxDots));
        DrawString(frame, parts.font2, text, x + 1, y + kIconCountY, kIconCountBackColour);
        DrawString(frame, parts.font2, text, x + 2, y + kIconCountY + 1, kIconCountColour);
    }
}

// Player p's row at y: the figures on black at the left, the band in the
// player's colour with the name and level, and the unit icons.
void DrawRow(const CaptureParts& parts, const FrameView& frame, const PanelState& s, int p, int y)
{
    const int colour = s.colourNumber[p];
    const std::uint8_t band = colour >= 0 && colour < 8
                                  ? static_cast<std::uint8_t>(kPlayerColourBase[colour] + 1)
                                  : kFallbackRowColour;
    FillFrameRect(frame, 0, y, kFiguresWidth, y + kRowHeight, 0);
    FillFrameRect(frame, kFiguresWidth, y, kPanelWidth, y + kRowHeight, band);
    char text[128];
    std::snprintf(text, sizeof(text), "%s       lvl%d%c", s.playerName[p], s.level[p],
                  s.levelFlag[p] ? 'L' : ' ');
    DrawString(frame, parts.font1, text, kNameX, y, kNameColour);
    std::snprintf(text, sizeof(text), "%d", s.amount1[p]);
    DrawString(frame, parts.font2, text, kFiguresX, y, kAmount1Colour);
    std::snprintf(text, sizeof(text), "%d", s.amount2[p]);
    DrawString(frame, parts.font2, text, kFiguresX, y + kAmount2Y, kAmount2Colour);
    std::snprintf(text, sizeof(text), "%d/%d", s.usedCount[p], s.limitCount[p]);
    DrawString(frame, parts.font1, text, kFiguresX, y + kCountsY, kCountsColour);
    DrawUnitIcons(parts, frame, s, p, y);
}

// The rows in the grouped order: a team's rows kRowHeight apart, the gap
// between teams added before a team's first row; a hidden row keeps its
// place.
void DrawRows(const CaptureParts& parts, const FrameView& frame, const PanelState& s)
{
    int y = kFirstRowY;
    for (int r = 0; r < PanelState::kPlayers; ++r)
    {
        const int p = s.order[r];
        if (p < 0 || p >= PanelState::kPlayers)
            continue;
        if (r > 0)
        {
            y += kRowHeight;
            const int previous = s.order[r - 1];
            if (previous < 0 || previous >= PanelState::kPlayers ||
                s.status[p] != s.status[previous])
                y += s.teamGap;
        }
        if (!IsRowHidden(s, p))
            DrawRow(parts, frame, s, p, y);
    }
}
} // namespace

void DrawOverlay(CaptureParts& parts, std::uint32_t& cursor)
{
    const FrameView frame{parts.frame, parts.width, parts.height};
    MakeRoomForPanel(frame, cursor);
    PanelState& s = parts.panel;
    s = PanelState{};
    if (!ReadPlayers(parts.process, s))
        return;
    PreparePlayers(s, parts.teamMemory);
    WalkUnits(parts, s);
    GroupPlayers(s, parts.teamMemory);
    DrawRows(parts, frame, s);
}
