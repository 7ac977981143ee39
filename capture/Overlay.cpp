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
constexpr int kPanelWidth = 174;
constexpr int kRowHeight = 34;
constexpr int kFirstRowY = 205;
constexpr int kIconPair[4] = {1, 0, 3, 5}; // unit types 2, 0, 6, 10
constexpr int kIconCell[4] = {0, 2, 4, 6}; // plus 1 for the other side
// Row band colour for a colour number the table doesn't know: colour 0's.
constexpr std::uint8_t kFallbackRowColour = 209;

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
    if (s.sumAmount1 < 5000)
        memory.teamsFrozen = false;
    else if (s.sumAmount1 > 5000)
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
    s.teamGap = teams <= 1 ? 0 : std::min((kRowHeight * s.outCount + 2) / (teams - 1), 20);
}

void DrawOverlay(CaptureParts& parts, std::uint32_t& cursor)
{
    const FrameView frame{parts.frame, parts.width, parts.height};

    // Panel preparation: the panel's content moves up by 24 rows, and the
    // cursor with it when it lies on that content.
    const std::uint32_t cx = cursor & 0xFFFFu, cy = cursor >> 16;
    if (cx < kPanelWidth && cy >= 24 && cy < 228)
        cursor = cx | ((cy - 24) << 16);
    ShiftPanelUp(frame);
    FillFrameRect(frame, 0, 204, kPanelWidth, parts.height, 0);

    PanelState& s = parts.panel;
    s = PanelState{};
    CProcess& game = parts.process;
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
        return;
    for (auto& name : s.playerName)
        name[sizeof(name) - 1] = '\0'; // a name fills at most its record

    PreparePlayers(s, parts.teamMemory);

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
            if (owner < PanelState::kPlayers && trained < 140 &&
                !(pair == 5 && ownType != 80 && ownType != 81))
                ++s.trainCount[owner][pair];
        }
        const bool counted = owner < PanelState::kPlayers && ownType < 140;
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

    GroupPlayers(s, parts.teamMemory);

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
        if (s.status[p] > 2 && ((s.sumAmount1 > 2000 && s.amount1[p] == 0) ||
                                (s.limitCount[p] == 0 && s.sumLimit / (9 - s.outCount) > 1)))
            continue;

        const int colour = s.colourNumber[p];
        const std::uint8_t band = colour >= 0 && colour < 8
                                      ? static_cast<std::uint8_t>(kPlayerColourBase[colour] + 1)
                                      : kFallbackRowColour;
        FillFrameRect(frame, 0, y, 38, y + kRowHeight, 0);
        FillFrameRect(frame, 38, y, kPanelWidth, y + kRowHeight, band);
        char text[128];
        std::snprintf(text, sizeof(text), "%s       lvl%d%c", s.playerName[p], s.level[p],
                      s.levelFlag[p] ? 'L' : ' ');
        DrawString(frame, parts.font1, text, 45, y, 255);
        std::snprintf(text, sizeof(text), "%d", s.amount1[p]);
        DrawString(frame, parts.font2, text, 1, y, 200);
        std::snprintf(text, sizeof(text), "%d", s.amount2[p]);
        DrawString(frame, parts.font2, text, 1, y + 11, 153);
        std::snprintf(text, sizeof(text), "%d/%d", s.usedCount[p], s.limitCount[p]);
        DrawString(frame, parts.font1, text, 1, y + 24, 120);

        for (int j = 0; j < 4; ++j)
        {
            const int n = s.unitCount[p][kIconPair[j]], t = s.trainCount[p][kIconPair[j]];
            if (n + t == 0)
                continue;
            const int x = 30 * j + 40;
            DrawSprite(frame, parts.units,
                       static_cast<std::uint32_t>(kIconCell[j] + (s.raceBalance[p] > 0 ? 1 : 0)), x,
                       y + 8, colour);
            static const char kDots[] = ".....";
            std::snprintf(text, sizeof(text), "%d%s", n, kDots + 5 - std::min(t, 5));
            DrawString(frame, parts.font2, text, x + 1, y + 14, 248);
            DrawString(frame, parts.font2, text, x + 2, y + 15, 246);
        }
    }
}
