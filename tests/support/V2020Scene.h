#pragma once

#include "capture/GameLayout.h"
#include "capture/GameMemoryMap.h"
#include "process/fake/FakeGame.h"

#include <cstdint>
#include <vector>

// A v2.0.2.0 game on its in-game screen in the fake platform, for the tests
// of the statistics panel and the unit markers: a 640 x 480 picture that
// carries the in-game signature, an empty unit list and map unit table, and
// the players, units and unit types each test writes. The capture's tests
// run the tick on it themselves, the manager's through its capture.
class CV2020Scene
{
public:
    static constexpr std::uint32_t kScreen = 0x20000000;
    static constexpr std::uint32_t kUnits = 0x30000000;
    static constexpr std::uint32_t kMapTable = 0x31000000;

    explicit CV2020Scene(CFakeGame& game) : m_game(game) {}

    void Start()
    {
        using namespace gamemem;
        m_game.Reset();
        m_game.ShowWindow("WARCRAFT II", 7);
        m_game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
        m_game.Write8(kVersionByteAddress, kVersionByte2020);
        m_game.Write32(0x004D4A90, 640u | (480u << 16));
        m_game.Write32(0x004D4A94, kScreen);
        std::vector<std::uint8_t> picture(640 * 480, 0x81);
        for (std::size_t i = 4; i < picture.size(); ++i)
            picture[i] = static_cast<std::uint8_t>(i % 97 + 1);
        picture[1] = picture[2] = picture[3] = 0x80; // the in-game signature 0x80808081
        m_game.Map(kScreen, picture);
        std::vector<std::uint8_t> palette(1024, 9);
        m_game.Write(0x004AE844, palette.data(), palette.size());
        m_game.Map(kUnits, std::vector<std::uint8_t>(0x10000, 0));
        m_game.Map(kMapTable, std::vector<std::uint8_t>(0x10000, 0));
        m_game.Write8(kMapWidth, 64);
        m_game.Write32(kMapUnitTable, kMapTable);
    }

    void Player(int i, std::uint8_t mask, std::int8_t colour, std::int32_t amount = 100)
    {
        using namespace gamemem;
        m_game.Write32(kAmount1 + 4 * static_cast<std::uint32_t>(i),
                       static_cast<std::uint32_t>(amount));
        m_game.Write16(kUsedCount + 2 * static_cast<std::uint32_t>(i), 5);
        m_game.Write16(kLimitCount + 2 * static_cast<std::uint32_t>(i), 9);
        m_game.Write8(kPlayerName + 56 * static_cast<std::uint32_t>(i),
                      static_cast<std::uint8_t>('a' + i));
        m_game.Write8(kColourNumber + static_cast<std::uint32_t>(i),
                      static_cast<std::uint8_t>(colour));
        m_game.Write8(kAllyMask + static_cast<std::uint32_t>(i), mask);
    }

    // Unit n of the list, registered at its tile: returns its pointer.
    std::uint32_t Unit(int n, int type, int owner, int hitPoints, int x = 0, int y = 0,
                       int action = 0, int trainType = 0, int energy = 0)
    {
        using namespace gamemem;
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
        m_game.Write(unit, record, sizeof(record));
        m_game.Write32(kUnitList + 4 * static_cast<std::uint32_t>(n), unit);
        m_game.Write32(kMapTable + 4 * static_cast<std::uint32_t>((y / 32) * 64 + x / 32), unit);
        return unit;
    }

    void TypeTable(int type, int maxHp, int width)
    {
        using namespace gamemem;
        m_game.Write16(kMaxHitPoints + 2 * static_cast<std::uint32_t>(type),
                       static_cast<std::uint16_t>(maxHp));
        m_game.Write16(kTypeWidth + 4 * static_cast<std::uint32_t>(type),
                       static_cast<std::uint16_t>(width));
    }

private:
    CFakeGame& m_game;
};
