#include "tools/sheets/Sheets.h"

#include <algorithm>

namespace
{
struct Rgb
{
    int r, g, b;
};

// Fills entries first..first+count-1 with a ramp from `from` to `to`.
void Ramp(SheetPalette& palette, int first, int count, Rgb from, Rgb to)
{
    for (int i = 0; i < count; ++i)
    {
        const int d = count > 1 ? count - 1 : 1;
        const Rgb c = {from.r + (to.r - from.r) * i / d, from.g + (to.g - from.g) * i / d,
                       from.b + (to.b - from.b) * i / d};
        for (int k = 0; k < 3; ++k)
        {
            const int v = k == 0 ? c.r : k == 1 ? c.g : c.b;
            palette[static_cast<std::size_t>(3 * (first + i) + k)] =
                static_cast<std::uint8_t>(std::clamp(v, 0, 255));
        }
    }
}
} // namespace

SheetPalette MakeSheetPalette()
{
    SheetPalette palette(256 * 3, 0);
    Ramp(palette, 1, 11, {20, 16, 12}, {90, 80, 70});       // outlines, dark earth
    Ramp(palette, 16, 16, {24, 24, 28}, {236, 236, 240});   // greys
    Ramp(palette, 32, 16, {252, 220, 180}, {120, 72, 40});  // skin
    Ramp(palette, 48, 16, {200, 144, 80}, {60, 36, 16});    // wood, leather
    Ramp(palette, 64, 16, {160, 212, 96}, {36, 72, 20});    // green skin
    Ramp(palette, 80, 16, {228, 232, 240}, {56, 60, 72});   // steel
    Ramp(palette, 96, 16, {255, 236, 120}, {136, 88, 8});   // gold
    Ramp(palette, 112, 16, {100, 148, 60}, {20, 44, 12});   // grass
    Ramp(palette, 128, 16, {96, 140, 220}, {8, 20, 64});    // water
    Ramp(palette, 144, 16, {255, 120, 80}, {96, 8, 8});     // fire, blood
    Ramp(palette, 160, 16, {248, 232, 196}, {116, 92, 60}); // sand, horse coat
    Ramp(palette, 176, 16, {150, 150, 110}, {40, 40, 24});  // olive
    Ramp(palette, 192, 16, {200, 160, 220}, {48, 24, 64});  // dusk
    // Player colours, four shades each from light to dark, in the order the
    // colour table of the drawing code expects (colour 7's ramp is at 12).
    Ramp(palette, 208, 4, {252, 72, 48}, {112, 8, 8});       // red
    Ramp(palette, 212, 4, {80, 132, 252}, {12, 24, 120});    // blue
    Ramp(palette, 216, 4, {88, 220, 96}, {8, 84, 24});       // green
    Ramp(palette, 220, 4, {184, 96, 232}, {64, 16, 100});    // violet
    Ramp(palette, 224, 4, {252, 168, 48}, {136, 60, 4});     // orange
    Ramp(palette, 228, 4, {96, 96, 104}, {16, 16, 20});      // black
    Ramp(palette, 232, 4, {252, 252, 252}, {140, 140, 148}); // white
    Ramp(palette, 12, 4, {252, 244, 80}, {148, 120, 0});     // yellow
    Ramp(palette, 236, 19, {64, 48, 32}, {228, 196, 120});   // panel browns
    Ramp(palette, 255, 1, {255, 255, 255}, {255, 255, 255}); // text ink
    return palette;
}
