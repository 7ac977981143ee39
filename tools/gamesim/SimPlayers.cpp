#include "tools/gamesim/SimPlayers.h"

#include "tools/gamesim/GameMemory.h"

#include <cstring>

namespace
{
// The overlay's addresses in build v2.0.2.0: the demo's own copy of what the
// recorder reads (capture/GameMemoryMap.h), kept apart on purpose, so that a
// mistyped address on either side fails the end-to-end tests instead of
// agreeing with itself.
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
constexpr std::uint32_t kMaxHitPoints = 0x004CFD34;
constexpr std::uint32_t kTypeWidth = 0x004CEE1C;
constexpr std::uint32_t kMapWidth = 0x004ACBDC;
constexpr std::uint32_t kMapUnitTableVar = 0x004AD5F0;

// Unit types by sprite kind (worker, foot soldier, ranged, mounted); the
// second side's units take the next odd type.
constexpr int kKindType[4] = {2, 0, 6, 10};
constexpr int kMaxHp = 60;
const char* const kNames[4] = {"Aldric", "Brenna", "Corvin", "Dagny"};
constexpr std::int8_t kColours[4] = {0, 5, 2, 3};
constexpr std::uint8_t kMasks[4] = {0x05, 0x0A, 0x05, 0x0A}; // teams {0, 2} and {1, 3}

void Put(CGameMemory& memory, std::uint32_t address, const void* bytes, std::size_t size)
{
    if (std::uint8_t* p = memory.At(address))
        std::memcpy(p, bytes, size);
}

template <typename T> void PutValue(CGameMemory& memory, std::uint32_t address, T value)
{
    Put(memory, address, &value, sizeof(value));
}
} // namespace

void WritePlayers(const CRtsScene& scene, int frame, CGameMemory& memory)
{
    // Players: gold rises through a 1200-frame cycle from 3200 in all
    // (passing 5000 at frame 180 of it) to about 15,000, then starts again.
    const int cycle = frame % 1200;
    int used[4] = {0, 0, 0, 0};
    const int units = std::min(scene.UnitCount(), static_cast<int>(CGameMemory::kMaxUnits));

    const int worldTiles = scene.WorldTiles();
    std::memset(memory.At(CGameMemory::kMapUnitTable), 0,
                4 * static_cast<std::size_t>(worldTiles) * static_cast<std::size_t>(worldTiles));
    int listed = 0;
    for (int i = 0; i < units; ++i)
    {
        const CRtsScene::UnitView view = scene.UnitAt(frame, i);
        const int owner = view.colour == 0 ? 0 : 1;
        const int type = kKindType[view.kind] + owner;
        // A third of the units are hurt, their health drifting down and
        // healing again; one in twelve is dead for part of the cycle.
        const int hp = i % 3 == 0 ? 1 + (kMaxHp - 1) - (frame / 2 + 17 * i) % kMaxHp : kMaxHp;
        const bool dead = i % 12 == 5 && cycle > 600;
        std::uint8_t record[CGameMemory::kUnitRecordBytes] = {};
        const auto put16 = [&](int at, int v)
        {
            record[at] = static_cast<std::uint8_t>(v);
            record[at + 1] = static_cast<std::uint8_t>(v >> 8);
        };
        put16(0, view.x);
        put16(2, view.y);
        record[24] = static_cast<std::uint8_t>(view.x / 32);
        record[26] = static_cast<std::uint8_t>(view.y / 32);
        record[30] = dead ? 2 : 0;
        put16(34, hp);
        record[38] = static_cast<std::uint8_t>(view.kind == 2 ? (frame + 11 * i) % 256
                                                              : 0); // ranged units' energy
        record[39] = static_cast<std::uint8_t>(type);
        record[44] = static_cast<std::uint8_t>(owner);
        if (i % 8 == 3)
        {
            record[46] = 37; // training a foot soldier of its side
            record[109] = static_cast<std::uint8_t>(kKindType[1] + owner);
        }
        const std::uint32_t address = CGameMemory::kUnitRecords +
                                      static_cast<std::uint32_t>(i) * CGameMemory::kUnitRecordBytes;
        Put(memory, address, record, sizeof(record));
        PutValue(memory, kUnitList + 4 * static_cast<std::uint32_t>(listed++), address);
        const int tileX = view.x / 32, tileY = view.y / 32;
        if (tileX >= 0 && tileY >= 0 && tileX < worldTiles && tileY < worldTiles)
            PutValue(memory,
                     CGameMemory::kMapUnitTable +
                         4 * static_cast<std::uint32_t>(tileY * worldTiles + tileX),
                     address);
        if (!dead)
            ++used[owner];
    }
    PutValue(memory, kUnitList + 4 * static_cast<std::uint32_t>(listed), std::uint32_t{0});

    for (std::uint32_t p = 0; p < 4; ++p)
    {
        PutValue(memory, kAmount1 + 4 * p,
                 static_cast<std::int32_t>(800 + cycle * static_cast<int>(p + 1)));
        PutValue(memory, kAmount2 + 4 * p,
                 static_cast<std::int32_t>(400 + frame / 3 + 50 * static_cast<int>(p)));
        PutValue(memory, kUsedCount + 2 * p,
                 static_cast<std::int16_t>(p < 2 ? used[p] : 3 + static_cast<int>(p)));
        PutValue(memory, kLimitCount + 2 * p,
                 static_cast<std::int16_t>(20 + 4 * static_cast<int>(p)));
        char name[56] = {};
        std::strncpy(name, kNames[p], sizeof(name) - 1);
        Put(memory, kPlayerName + 56 * p, name, sizeof(name));
        PutValue(memory, kColourNumber + p, kColours[p]);
        PutValue(memory, kAllyMask + p, kMasks[p]);
        PutValue(memory, kLevelPart1 + p, static_cast<std::uint8_t>(1 + p));
        PutValue(memory, kLevelPart2 + p, static_cast<std::uint8_t>(frame / 600 % 3));
        PutValue(memory, kFlagWord + 4 * p, static_cast<std::uint32_t>(p == 1 ? 1u << 11 : 0u));
    }

    int tileX = 0, tileY = 0;
    scene.CameraTile(frame, tileX, tileY);
    PutValue(memory, kViewX, static_cast<std::uint8_t>(tileX));
    PutValue(memory, kViewY, static_cast<std::uint8_t>(tileY));
    PutValue(memory, kMapWidth, static_cast<std::uint8_t>(worldTiles));
    PutValue(memory, kMapUnitTableVar, CGameMemory::kMapUnitTable);
    for (std::uint32_t t = 0; t < 140; ++t)
    {
        PutValue(memory, kMaxHitPoints + 2 * t, static_cast<std::uint16_t>(kMaxHp));
        PutValue(memory, kTypeWidth + 4 * t, static_cast<std::uint16_t>(1));
    }
}
