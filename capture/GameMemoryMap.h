#pragma once

#include <cstddef>
#include <cstdint>

// What the game's memory holds beyond the address table of CGameLayout: the
// variables of build v2.0.2.0 that the statistics panel and the unit markers
// read, and the layout of a unit record. Written once here for the recorder
// and its command-line tool. (The demo game keeps a copy of its own on
// purpose, so that a mistyped address here fails the end-to-end tests.)
namespace gamemem
{
constexpr std::uint32_t kAmount1 = 0x004AB9C4;
constexpr std::uint32_t kAmount2 = 0x004AD3A8;
constexpr std::uint32_t kUsedCount = 0x004ADA7C;
constexpr std::uint32_t kLimitCount = 0x004ADC1C;
constexpr std::uint32_t kPlayerName = 0x004AD758;
constexpr std::uint32_t kColourNumber = 0x004AB994;
constexpr std::uint32_t kAllyMask = 0x004AB984;
constexpr std::uint32_t kLevelPart1 = 0x004ACE54;
constexpr std::uint32_t kLevelPart2 = 0x004ABEE8;
constexpr std::uint32_t kFlagWord = 0x004ABEFC;
constexpr std::uint32_t kViewX = 0x004ABEFA;
constexpr std::uint32_t kViewY = 0x004ABEF8;
constexpr std::uint32_t kUnitList = 0x004BF188;
constexpr std::uint32_t kMaxHitPoints = 0x004CFD34; // + 2 x type
constexpr std::uint32_t kTypeWidth = 0x004CEE1C;    // + 4 x type
constexpr std::uint32_t kMapWidth = 0x004ACBDC;
constexpr std::uint32_t kMapUnitTable = 0x004AD5F0;
// The unit list is a null-terminated array of pointers; a list that runs
// longer than this without its null is taken to end here.
constexpr int kMaxUnits = 16384;

// A unit record: its first kUnitHeadBytes hold what the panel and the
// markers read of every unit (UnitRecord parses them); two fields lie
// further on and are read on their own.
constexpr std::size_t kUnitHeadBytes = 48;
constexpr std::uint32_t kUnitTrainedType = 109; // byte: the type being trained
constexpr std::uint32_t kUnitAmount = 130;      // signed 16 bits: what a type-92 unit holds
constexpr int kActionTraining = 37;             // the action of a unit training another
} // namespace gamemem
