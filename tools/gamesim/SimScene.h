#pragma once

#include "tools/gamesim/RtsScene.h"

#include <cstdint>
#include <string>
#include <vector>

class CGameMemory;

struct SimOptions
{
    bool build2021 = false;
    bool wrapper = false;
    std::string wrapperName = "ddraw.dll"; // the wrapper's file name, as installed
    int width = 640;
    int height = 480;
    int seed = 1;
    int fps = 30;
    int frames = 0;    // 0: until the window closes
    int menuEvery = 0; // seconds; 0: always in the game
};

// What the demo shows in each frame: the game (the benchmark scene, with the
// in-game signature at the start of the game's own buffer) or, for stretches
// of --menu-every seconds, a menu screen in a palette of its own.
class CSimScene
{
public:
    // The first four bytes of the game's own buffer on the in-game screen.
    static constexpr std::uint32_t kSignature2020 = 0x80808081;
    static constexpr std::uint32_t kSignature2021 = 0x64646464;

    explicit CSimScene(const SimOptions& options);

    bool InMenu(int frame) const;
    // Draws frame `frame` into the game's memory: pictures, palette, cursor,
    // then the frame counter.
    void Draw(int frame, CGameMemory& memory);
    const std::uint8_t* Palette(int frame) const;
    // The picture shown in `frame` (what the wrapper's buffer holds, or the
    // game's own buffer without a wrapper), for tests that compare.
    void Picture(int frame, std::uint8_t* out) const;

private:
    void DrawMenu(int frame, std::uint8_t* out) const;

    SimOptions m_options;
    CRtsScene m_scene;
    std::vector<std::uint8_t> m_menuPalette;
    std::vector<std::uint8_t> m_picture; // the frame being drawn
};
