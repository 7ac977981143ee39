#include "tools/gamesim/RtsScene.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr int kTileKinds = 16;
constexpr int kSpriteKinds = 4;
constexpr int kSprite = 24;
constexpr int kScrollPeriod = 45; // frames between camera steps while moving

std::uint32_t Hash(std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0)
{
    std::uint32_t h =
        a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

std::uint8_t U8(int v)
{
    return static_cast<std::uint8_t>(v);
}
} // namespace

CRtsScene::CRtsScene(int width, int height, std::uint32_t seed, int units)
    : m_nWidth(width), m_nHeight(height), m_nSeed(seed)
{
    // Palette: ramps of 16 shades for terrain, trees, water, rock and the
    // interface, with the player colours at 208..235 and 12..15.
    m_palette.assign(1024, 0);
    for (int i = 0; i < 256; ++i)
    {
        const int ramp = i / 16, shade = i % 16;
        static const int kBase[16][3] = {
            {0, 0, 0},     {60, 40, 20},   {40, 90, 30},   {30, 70, 20},
            {20, 50, 110}, {90, 90, 90},   {120, 90, 50},  {140, 120, 80},
            {70, 50, 30},  {100, 100, 40}, {160, 40, 30},  {40, 40, 160},
            {60, 140, 60}, {150, 150, 40}, {100, 40, 120}, {200, 200, 200}};
        for (int c = 0; c < 3; ++c)
            m_palette[static_cast<std::size_t>(4 * i + c)] =
                U8(std::min(255, kBase[ramp][c] + shade * 6));
    }

    const std::size_t world = static_cast<std::size_t>(m_nWorldTiles);
    m_tileKinds.resize(world * world);
    for (int ty = 0; ty < m_nWorldTiles; ++ty)
        for (int tx = 0; tx < m_nWorldTiles; ++tx)
        {
            // Patches of terrain: grass everywhere, forests, lakes and rock
            // where low-frequency noise says so, with variants inside.
            const std::uint32_t region = Hash(m_nSeed, static_cast<std::uint32_t>(tx / 6),
                                              static_cast<std::uint32_t>(ty / 5));
            const std::uint32_t local =
                Hash(m_nSeed + 1, static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty));
            int kind = static_cast<int>(local % 4); // grass 0..3
            switch (region % 7)
            {
            case 0:
                kind = 4 + static_cast<int>(local % 3); // forest
                break;
            case 1:
                kind = 8 + static_cast<int>(local % 2); // water
                break;
            case 2:
                kind = 12 + static_cast<int>(local % 2); // rock
                break;
            case 3:
                kind = 10 + static_cast<int>(local % 2); // dirt
                break;
            default:
                break;
            }
            m_tileKinds[static_cast<std::size_t>(ty) * world + static_cast<std::size_t>(tx)] =
                U8(kind);
        }

    // Tile art: each kind a texture of a few shades of its ramp.
    m_tileArt.resize(static_cast<std::size_t>(kTileKinds * kTile * kTile));
    static const int kRamp[kTileKinds] = {2, 2, 3, 2, 3, 3, 3, 3, 4, 4, 6, 6, 5, 5, 7, 1};
    for (int k = 0; k < kTileKinds; ++k)
        for (int y = 0; y < kTile; ++y)
            for (int x = 0; x < kTile; ++x)
            {
                const std::uint32_t h =
                    Hash(static_cast<std::uint32_t>(k) + 77, static_cast<std::uint32_t>(x / 2),
                         static_cast<std::uint32_t>(y / 2));
                int shade = 4 + static_cast<int>(h % 5);
                if (k >= 4 && k <= 7 && ((x - 16) * (x - 16) + (y - 14) * (y - 14) < 120))
                    shade = 1 + static_cast<int>(h % 3); // tree crowns
                if (k >= 8 && k <= 9 && (y + x / 4) % 8 == 0)
                    shade = 12; // waves
                m_tileArt[static_cast<std::size_t>((k * kTile + y) * kTile + x)] =
                    U8(kRamp[k] * 16 + shade);
            }

    // Sprites: four kinds, four animation frames each; 0 is transparent,
    // 208..211 take the player's colour.
    m_spriteArt.assign(static_cast<std::size_t>(kSpriteKinds * 4 * kSprite * kSprite), 0);
    for (int k = 0; k < kSpriteKinds; ++k)
        for (int a = 0; a < 4; ++a)
        {
            std::uint8_t* art =
                &m_spriteArt[static_cast<std::size_t>((k * 4 + a) * kSprite * kSprite)];
            for (int y = 0; y < kSprite; ++y)
                for (int x = 0; x < kSprite; ++x)
                {
                    const int cx = x - 12, cy = y - 10;
                    const int radius = 36 + 10 * k;
                    std::uint8_t v = 0;
                    if (cx * cx + cy * cy * 2 < radius)
                        v = U8(208 + (cx + cy + 8) / 5 % 4); // body in player colour
                    else if (cx * cx + cy * cy * 2 < radius + 24)
                        v = U8(16 + 3); // outline
                    if (y >= 17 && y < 23)
                    {
                        const int swing = (a % 2 ? 1 : -1) * (y - 17) / 2;
                        if (x == 9 + swing || x == 15 - swing)
                            v = U8(128 + 5); // legs
                    }
                    if (k == 2 && x == 20 && y >= 2 && y < 18)
                        v = U8(112 + 9); // a bow
                    art[y * kSprite + x] = v;
                }
        }

    // The panel: a framed box with buttons and a portrait, static but for
    // the minimap and the figures drawn per frame.
    m_panelArt.resize(static_cast<std::size_t>(kPanelWidth) * static_cast<std::size_t>(m_nHeight));
    for (int y = 0; y < m_nHeight; ++y)
        for (int x = 0; x < kPanelWidth; ++x)
        {
            std::uint8_t v = U8(96 + 4 +
                                static_cast<int>(Hash(5, static_cast<std::uint32_t>(x / 3),
                                                      static_cast<std::uint32_t>(y / 3)) %
                                                 3));
            if (x < 3 || x >= kPanelWidth - 3 || y % 120 < 2)
                v = U8(112 + 14);
            if (y >= 190 && y < 330 && x >= 12 && x < 164 && ((x - 12) % 50 < 46) &&
                ((y - 190) % 46 < 42))
                v = U8(80 + 6 + ((x + y) % 23 == 0 ? 4 : 0)); // buttons
            m_panelArt[static_cast<std::size_t>(y * kPanelWidth + x)] = v;
        }

    const int worldPixels = m_nWorldTiles * kTile;
    for (int i = 0; i < units; ++i)
    {
        const std::uint32_t h = Hash(m_nSeed + 9, static_cast<std::uint32_t>(i));
        Unit unit{};
        // Units gather near the middle of the world, where the camera looks.
        unit.x0 = worldPixels / 2 - 400 + static_cast<int>(h % 800);
        unit.y0 = worldPixels / 2 - 300 + static_cast<int>((h >> 10) % 600);
        unit.dx = static_cast<int>((h >> 20) % 3) - 1;
        unit.dy = static_cast<int>((h >> 22) % 3) - 1;
        if (unit.dx == 0 && unit.dy == 0 && i % 3 != 0)
            unit.dx = 1; // a third of the units stand still
        unit.leg = 60 + static_cast<int>((h >> 24) % 120);
        unit.kind = i % kSpriteKinds;
        unit.colour = i % 2 ? 0 : 5;
        m_units.push_back(unit);
    }
}

void CRtsScene::Camera(int frame, int& x, int& y) const
{
    // The camera rests, then steps a tile at a time in one direction, and so
    // on: long stretches of still map, short bursts of scrolling.
    const int phase = frame / (kScrollPeriod * 8);
    const int within = frame % (kScrollPeriod * 8);
    int cx = m_nWorldTiles / 2 - 10, cy = m_nWorldTiles / 2 - 8;
    static const int kDir[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int p = 0; p <= phase; ++p)
    {
        const int steps = p < phase ? 4 : std::max(0, within / kScrollPeriod - 4);
        cx += kDir[p % 4][0] * steps;
        cy += kDir[p % 4][1] * steps;
    }
    x = std::clamp(cx, 0, m_nWorldTiles - 1) * kTile;
    y = std::clamp(cy, 0, m_nWorldTiles - 1) * kTile;
}

void CRtsScene::UnitPosition(const Unit& unit, int frame, int& x, int& y) const
{
    // Patrol: walk `leg` frames one way, then back.
    const int t = frame % (2 * unit.leg);
    const int along = t < unit.leg ? t : 2 * unit.leg - t;
    x = unit.x0 + unit.dx * along;
    y = unit.y0 + unit.dy * along;
}

std::uint8_t CRtsScene::TileAt(int tx, int ty) const
{
    if (tx < 0 || ty < 0 || tx >= m_nWorldTiles || ty >= m_nWorldTiles)
        return 15;
    return m_tileKinds[static_cast<std::size_t>(ty * m_nWorldTiles + tx)];
}

void CRtsScene::DrawMap(int frame, std::uint8_t* picture) const
{
    int cameraX = 0, cameraY = 0;
    Camera(frame, cameraX, cameraY);
    const int left = kPanelWidth, top = kMenuHeight;
    const int right = m_nWidth - 16, bottom = m_nHeight - 16;
    for (int y = top; y < bottom; ++y)
    {
        const int wy = cameraY + (y - top);
        for (int x = left; x < right; ++x)
        {
            const int wx = cameraX + (x - left);
            const int kind = TileAt(wx / kTile, wy / kTile);
            picture[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nWidth) +
                    static_cast<std::size_t>(x)] =
                m_tileArt[static_cast<std::size_t>((kind * kTile + wy % kTile) * kTile +
                                                   wx % kTile)];
        }
    }
    for (const Unit& unit : m_units)
        DrawUnit(unit, frame, cameraX, cameraY, picture);
}

void CRtsScene::DrawUnit(const Unit& unit, int frame, int cameraX, int cameraY,
                         std::uint8_t* picture) const
{
    int wx = 0, wy = 0;
    UnitPosition(unit, frame, wx, wy);
    const int sx = wx - cameraX + kPanelWidth, sy = wy - cameraY + kMenuHeight;
    const bool moving = unit.dx != 0 || unit.dy != 0;
    const int animation = moving ? (frame / 6) % 4 : 0;
    const std::uint8_t* art =
        &m_spriteArt[static_cast<std::size_t>((unit.kind * 4 + animation) * kSprite * kSprite)];
    static const int kBase[8] = {208, 212, 216, 220, 224, 228, 232, 12};
    for (int y = 0; y < kSprite; ++y)
    {
        const int py = sy + y;
        if (py < kMenuHeight || py >= m_nHeight - 16)
            continue;
        for (int x = 0; x < kSprite; ++x)
        {
            const int px = sx + x;
            if (px < kPanelWidth || px >= m_nWidth - 16)
                continue;
            std::uint8_t v = art[y * kSprite + x];
            if (v == 0)
                continue;
            if (v >= 208 && v <= 211)
                v = U8(kBase[unit.colour] + (v & 3));
            picture[static_cast<std::size_t>(py) * static_cast<std::size_t>(m_nWidth) +
                    static_cast<std::size_t>(px)] = v;
        }
    }
}

void CRtsScene::DrawPanel(int frame, std::uint8_t* picture) const
{
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    for (int y = 0; y < m_nHeight; ++y)
        std::memcpy(picture + static_cast<std::size_t>(y) * width,
                    &m_panelArt[static_cast<std::size_t>(y * kPanelWidth)], kPanelWidth);
    // Menu strip and the borders of the map view.
    for (int y = 0; y < m_nHeight; ++y)
        for (int x = kPanelWidth; x < m_nWidth; ++x)
            if (y < kMenuHeight || y >= m_nHeight - 16 || x >= m_nWidth - 16)
                picture[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)] =
                    U8(112 + 8 + ((x / 8 + y / 8) % 2));

    // Minimap, 128 x 128 at (24, 24): a pixel per 3/4 tile, units as dots.
    const int mapX = 24, mapY = 24, mapSide = 128;
    for (int y = 0; y < mapSide && mapY + y < m_nHeight; ++y)
        for (int x = 0; x < mapSide; ++x)
        {
            const int kind = TileAt(x * m_nWorldTiles / mapSide, y * m_nWorldTiles / mapSide);
            picture[static_cast<std::size_t>(mapY + y) * width +
                    static_cast<std::size_t>(mapX + x)] =
                U8(m_tileArt[static_cast<std::size_t>(kind * kTile * kTile + 5 * kTile + 5)]);
        }
    const int worldPixels = m_nWorldTiles * kTile;
    for (const Unit& unit : m_units)
    {
        int wx = 0, wy = 0;
        UnitPosition(unit, frame, wx, wy);
        const int x = mapX + wx * mapSide / worldPixels, y = mapY + wy * mapSide / worldPixels;
        if (y >= 0 && y + 1 < m_nHeight && x >= 0 && x + 1 < kPanelWidth)
            for (int d = 0; d < 4; ++d)
                picture[static_cast<std::size_t>(y + d / 2) * width +
                        static_cast<std::size_t>(x + d % 2)] = U8(unit.colour == 0 ? 209 : 229);
    }
    // A gold counter that changes every few frames.
    const int gold = 1000 + frame / 7;
    for (int digit = 0; digit < 5; ++digit)
    {
        const int value = gold /
                          (digit == 0   ? 10000
                           : digit == 1 ? 1000
                           : digit == 2 ? 100
                           : digit == 3 ? 10
                                        : 1) %
                          10;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 5; ++x)
                if ((Hash(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(x),
                          static_cast<std::uint32_t>(y)) &
                     1) != 0 &&
                    4 + y < m_nHeight)
                    picture[static_cast<std::size_t>(4 + y) * width +
                            static_cast<std::size_t>(200 + digit * 6 + x)] = 255;
    }
}

void CRtsScene::Render(int frame, std::uint8_t* picture) const
{
    DrawPanel(frame, picture);
    DrawMap(frame, picture);
}

void CRtsScene::RenderMapAt(int x, int y, std::uint8_t* picture) const
{
    for (int row = 0; row < m_nHeight; ++row)
    {
        const int wy = y + row;
        std::uint8_t* out =
            picture + static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nWidth);
        for (int column = 0; column < m_nWidth; ++column)
        {
            const int wx = x + column;
            const int kind = TileAt(wx / kTile, wy / kTile);
            out[column] = m_tileArt[static_cast<std::size_t>((kind * kTile + wy % kTile) * kTile +
                                                             wx % kTile)];
        }
    }
}

std::uint32_t CRtsScene::Cursor(int frame) const
{
    // A pointer that glides over the map and now and then visits the panel.
    const int x = (frame * 3) % (2 * m_nWidth);
    const int y = (frame * 2 + 100) % (2 * m_nHeight);
    const int px = x < m_nWidth ? x : 2 * m_nWidth - 1 - x;
    const int py = y < m_nHeight ? y : 2 * m_nHeight - 1 - y;
    return static_cast<std::uint32_t>(px) | (static_cast<std::uint32_t>(py) << 16);
}

void RenderNoise(int width, int height, std::uint32_t seed, int frame, std::uint8_t* picture)
{
    std::uint64_t s = (static_cast<std::uint64_t>(seed) << 32 | static_cast<std::uint32_t>(frame)) *
                          0x9E3779B97F4A7C15ull +
                      1;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        std::memcpy(picture + i, &s, 8);
    }
    for (; i < count; ++i)
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        picture[i] = static_cast<std::uint8_t>(s);
    }
}

CRtsScene::UnitView CRtsScene::UnitAt(int frame, int index) const
{
    const Unit& unit = m_units[static_cast<std::size_t>(index)];
    UnitView view{};
    UnitPosition(unit, frame, view.x, view.y);
    view.kind = unit.kind;
    view.colour = unit.colour;
    view.moving = unit.dx != 0 || unit.dy != 0;
    return view;
}

void CRtsScene::CameraTile(int frame, int& tileX, int& tileY) const
{
    Camera(frame, tileX, tileY);
    tileX /= kTile;
    tileY /= kTile;
}

void RenderArt(int width, int height, std::uint32_t seed, int left, std::uint8_t* picture)
{
    // Bilinear shading between random levels on a 64-pixel lattice, plus a
    // grain of up to two shades per pixel.
    constexpr int kCell = 64;
    const auto level = [seed](int cx, int cy)
    {
        return static_cast<int>(
            Hash(seed, static_cast<std::uint32_t>(cx), static_cast<std::uint32_t>(cy)) % 224);
    };
    for (int y = 0; y < height; ++y)
    {
        const int cy = y / kCell, fy = y % kCell;
        std::uint8_t* out = picture + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x)
        {
            const int wx = left + x;
            const int cx = wx / kCell, fx = wx % kCell;
            const int top = level(cx, cy) * (kCell - fx) + level(cx + 1, cy) * fx;
            const int bottom = level(cx, cy + 1) * (kCell - fx) + level(cx + 1, cy + 1) * fx;
            const int shade = (top * (kCell - fy) + bottom * fy) / (kCell * kCell);
            const auto grain = static_cast<int>(
                Hash(seed + 1, static_cast<std::uint32_t>(wx), static_cast<std::uint32_t>(y)) % 3);
            out[x] = U8(16 + shade + grain);
        }
    }
}
