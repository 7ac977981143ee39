// Unit markers: over every unit in the map view, a health bar when it is
// damaged, its hit points when they are low, its energy figure, and an
// amount for units of type 92.

#include "capture/Capture.h"
#include "drawing/Bitmap8Group.h"
#include "drawing/Drawing.h"
#include "process/Process.h"

#include <algorithm>
#include <cstdio>

namespace
{
constexpr int kViewTiles = 13;
constexpr int kTile = 32;
constexpr int kMapLeft = 181; // frame column of the view's left edge, less the marker's offset
constexpr int kMapTop = 20;
constexpr int kBarRightLimit = 624;
constexpr std::uint8_t kBarColour[4] = {168, 168, 200, 207};
constexpr std::uint8_t kMissingColour = 146;

} // namespace

void DrawUnitMarker(CaptureParts& parts, const UnitRecord& record, std::uint32_t unit, int type,
                    bool counted, int viewX, int viewY)
{
    using namespace gamemem;
    CProcess& game = parts.process;
    const int maxHp = game.ReadWord(kMaxHitPoints + 2 * static_cast<std::uint32_t>(type));
    const int size = game.ReadWord(kTypeWidth + 4 * static_cast<std::uint32_t>(type));

    const int x = record.x, y = record.y;
    if (x < viewX * kTile || x > (viewX + kViewTiles) * kTile || y < viewY * kTile ||
        y > (viewY + kViewTiles) * kTile)
        return;
    const std::uint32_t mapWidth = game.ReadByte(kMapWidth);
    const std::uint32_t table = game.ReadDword(kMapUnitTable);
    const std::uint32_t tile = record.tileY * mapWidth + record.tileX;
    if (game.ReadDword(table + tile * 4) != unit)
        return; // not the unit registered at its tile
    if (maxHp == 0)
        return; // a type without hit points has no bar to scale

    const int hitPoints = record.hitPoints;
    const int energy = record.energy;
    const int top = y - viewY * kTile + kMapTop;
    const int left = x - viewX * kTile + kMapLeft;
    const int w = size * kTile - 10;
    const int barEnd = std::min(left + w * hitPoints / maxHp, kBarRightLimit);
    const int fullEnd = std::min(left + w, kBarRightLimit);
    const int k = std::clamp(hitPoints * 4 / maxHp, 0, 3);
    const FrameView frame{parts.frame, parts.width, parts.height};
    char text[32];

    if (type == 92)
    {
        const int amount = static_cast<std::int16_t>(game.ReadWord(unit + kUnitAmount));
        std::snprintf(text, sizeof(text), "%d", amount * 100);
        DrawString(frame, parts.font2, text, left + 17, top + 36, 12);
    }
    if ((type == 2 || type == 3) && energy != 0)
        return;
    if (counted && hitPoints < maxHp)
    {
        FillFrameRect(frame, left, top, barEnd, top + 3, kBarColour[k]);
        FillFrameRect(frame, barEnd, top, fullEnd, top + 3, kMissingColour);
    }
    if (hitPoints < maxHp / 4)
    {
        std::snprintf(text, sizeof(text), "%d", hitPoints);
        DrawString(frame, parts.font1, text, left + 3, top + 4, 255);
    }
    if (counted && energy > 0)
    {
        if (type < 58)
            std::snprintf(text, sizeof(text), "%d", energy);
        else
            std::snprintf(text, sizeof(text), "%d%%", energy * 100 / 256);
        DrawString(frame, parts.font1, text, left + 3, top + 12, 253);
    }
}
