#pragma once

#include "base/ByteOrder.h"
#include "capture/GameMemoryMap.h"

#include <cstddef>
#include <cstdint>

// What the statistics panel shows, as read from the game in one overlay
// call (v2.0.2.0 only): the players' tables, the unit counts, and the rows'
// order after the team grouping.
struct PanelState
{
    static constexpr int kPlayers = 8;
    static constexpr int kPairs = 70; // unit types 0..139, two to a pair

    std::int32_t amount1[kPlayers] = {};
    std::int32_t amount2[kPlayers] = {};
    std::int16_t usedCount[kPlayers] = {};
    std::int16_t limitCount[kPlayers] = {};
    char playerName[kPlayers][56] = {};
    std::int8_t colourNumber[kPlayers] = {};
    std::uint8_t allyMask[kPlayers] = {};
    std::uint8_t levelPart1[kPlayers] = {};
    std::uint8_t levelPart2[kPlayers] = {};
    std::uint32_t flagWord[kPlayers] = {};

    std::int32_t sumAmount1 = 0;
    std::int32_t sumLimit = 0;
    std::int32_t levelFlag[kPlayers] = {};
    std::int8_t level[kPlayers] = {};
    std::int32_t status[kPlayers] = {}; // -1 out, 0 present, 1.. team
    std::int32_t outCount = 0;
    std::uint16_t unitCount[kPlayers][kPairs] = {};
    std::uint16_t trainCount[kPlayers][kPairs] = {};
    std::int32_t raceBalance[kPlayers] = {};
    std::int32_t order[kPlayers] = {-1, -1, -1, -1, -1, -1, -1, -1};
    std::int32_t teamCounter = 0;
    std::int32_t teamGap = 0;
};

// The head of a unit record in the game, as the panel and the unit markers
// use it.
struct UnitRecord
{
    static constexpr std::size_t kBytes = gamemem::kUnitHeadBytes;

    std::int16_t x = 0; // map position in pixels
    std::int16_t y = 0;
    std::uint8_t tileX = 0; // map tile
    std::uint8_t tileY = 0;
    std::uint8_t stateFlags = 0; // bit 1: the unit is ignored
    std::int16_t hitPoints = 0;
    std::uint8_t energy = 0;
    std::uint8_t type = 0;
    std::uint8_t owner = 0;
    std::uint8_t action = 0; // gamemem::kActionTraining: training another unit

    static UnitRecord Parse(const std::uint8_t* bytes)
    {
        const auto get16 = [bytes](int at)
        { return static_cast<std::int16_t>(LoadLe16(bytes + at)); };
        UnitRecord r;
        r.x = get16(0);
        r.y = get16(2);
        r.tileX = bytes[24];
        r.tileY = bytes[26];
        r.stateFlags = bytes[30];
        r.hitPoints = get16(34);
        r.energy = bytes[38];
        r.type = bytes[39];
        r.owner = bytes[44];
        r.action = bytes[46];
        return r;
    }
};

// The grouping remembered from one overlay call to the next for the whole
// run of the program: once the players' first amounts add up to more than
// 5000 the rows keep their teams and order until the sum drops below 5000.
struct TeamMemory
{
    bool teamsFrozen = false;
    std::int32_t savedStatus[PanelState::kPlayers] = {};
    std::int32_t savedOrder[PanelState::kPlayers] = {};
    std::int32_t savedTeamCounter = 0;
};

// The steps of the panel that need no game beyond its tables, in the order
// the overlay runs them around its unit walk: first the sums, levels and
// status of the players (the remembered status while the grouping is
// frozen), then the team grouping, the team memory and the gap between teams.
void PreparePlayers(PanelState& state, const TeamMemory& memory);
void GroupPlayers(PanelState& state, TeamMemory& memory);
