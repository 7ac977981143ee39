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
    // Seconds after the window appears at which the wrapper is loaded, as a
    // game that loads it itself does; 0: loaded before the window appears.
    double wrapperAfter = 0;
    int width = 640;
    int height = 480;
    int seed = 1;
    int fps = 30;
    int frames = 0;    // 0: until the window closes
    int menuEvery = 0; // seconds; 0: always in the game
};

// What the demo shows in each frame: the game (the benchmark scene, with the
// in-game signature at the start of the game's own buffer) or, for stretches
// of --menu-every seconds, a menu screen in a palette of its own. With a
// wrapper loaded, the wrapper's buffer holds the same picture without the
// signature and with the wrapper's mark (its bottom row in complementary
// colour numbers), so that any picture read tells which buffer it came from.
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
    // The picture shown in `frame` (what the wrapper's buffer holds from
    // the first frame drawn into it on, the game's own buffer before), for
    // tests that compare.
    void Picture(int frame, std::uint8_t* out) const;
    // What each buffer holds in `frame`.
    void OwnPicture(int frame, std::uint8_t* out) const;
    void WrapperPicture(int frame, std::uint8_t* out) const;
    // The first frame drawn into the wrapper's buffer: 0 when the wrapper is
    // loaded before the window appears, with --ddraw-after the first frame
    // due after the wrapper loaded (frame n is due n periods after the window
    // appeared); -1 without a wrapper.
    int FirstWrapperFrame() const;

private:
    void Render(int frame, std::uint8_t* out) const;
    void Sign(int frame, std::uint8_t* out) const;
    void MarkAsWrapper(std::uint8_t* out) const;
    void DrawMenu(int frame, std::uint8_t* out) const;

    SimOptions m_options;
    CRtsScene m_scene;
    std::vector<std::uint8_t> m_menuPalette;
    std::vector<std::uint8_t> m_picture; // the frame being drawn
};
