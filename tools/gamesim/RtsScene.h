#pragma once

#include <cstdint>
#include <vector>

// A deterministic sequence of 8-bit pictures that looks to the codec like the
// game's screen: a left panel with a minimap that tracks the units, a menu
// strip, and a map view of 32 x 32 tiles that scrolls in whole-tile steps,
// with a few dozen animated units walking over it. The same seed gives the
// same pictures on every machine, so benchmark figures compare across runs.
class CRtsScene
{
public:
    static constexpr int kTile = 32;
    static constexpr int kPanelWidth = 176;
    static constexpr int kMenuHeight = 16;

    CRtsScene(int width, int height, std::uint32_t seed, int units = 48);

    // Draws frame `frame` into `picture` (width x height bytes, rows width
    // apart). Frames can be drawn in any order.
    void Render(int frame, std::uint8_t* picture) const;
    // The map alone over the whole picture, its top-left corner at world
    // pixel (x, y), without units: a view that can scroll by single pixels,
    // where the game's own steps by whole tiles.
    void RenderMapAt(int x, int y, std::uint8_t* picture) const;
    // The mouse pointer of that frame: x in the low 16 bits, y in the high.
    std::uint32_t Cursor(int frame) const;
    // What the demo game tells about its units and view: a unit's world
    // position in pixels, sprite kind 0..3 and player colour number, and
    // the map tile at the view's top-left corner.
    struct UnitView
    {
        int x, y, kind, colour;
        bool moving;
    };
    int UnitCount() const { return static_cast<int>(m_units.size()); }
    UnitView UnitAt(int frame, int index) const;
    void CameraTile(int frame, int& tileX, int& tileY) const;
    int WorldTiles() const { return m_nWorldTiles; }

    // Red, green, blue, 0 for each of the 256 entries.
    const std::uint8_t* Palette() const { return m_palette.data(); }

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    struct Unit
    {
        int x0, y0; // world position in pixels at frame 0
        int dx, dy; // direction of walk, -1..1
        int leg;    // frames per leg of its patrol
        int kind;   // sprite shape
        int colour; // player colour number 0..7
    };

    void DrawPanel(int frame, std::uint8_t* picture) const;
    void DrawMap(int frame, std::uint8_t* picture) const;
    void DrawUnit(const Unit& unit, int frame, int cameraX, int cameraY,
                  std::uint8_t* picture) const;
    void Camera(int frame, int& x, int& y) const;
    void UnitPosition(const Unit& unit, int frame, int& x, int& y) const;
    std::uint8_t TileAt(int tx, int ty) const;

    int m_nWidth;
    int m_nHeight;
    std::uint32_t m_nSeed;
    int m_nWorldTiles = 96;                // the world is square, in tiles
    std::vector<std::uint8_t> m_tileKinds; // m_nWorldTiles^2 tile kinds
    std::vector<std::uint8_t> m_tileArt;   // kTileKinds tiles of 32 x 32 pixels
    std::vector<std::uint8_t> m_spriteArt; // kinds x 4 animation frames of 24 x 24
    std::vector<std::uint8_t> m_panelArt;  // kPanelWidth x height
    std::vector<Unit> m_units;
    std::vector<std::uint8_t> m_palette;
};

// Every pixel random: the worst case, in which nearly every leaf is new.
void RenderNoise(int width, int height, std::uint32_t seed, int frame, std::uint8_t* picture);

// A painted picture that never repeats: shading that drifts smoothly through
// the palette's ramps, with a fine grain, seen from column `left` of an
// endless strip. Scrolled by single pixels nearly every leaf is new, but a
// leaf returns every four columns.
void RenderArt(int width, int height, std::uint32_t seed, int left, std::uint8_t* picture);
