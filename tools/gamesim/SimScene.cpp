#include "tools/gamesim/SimScene.h"

#include "tools/gamesim/GameMemory.h"
#include "tools/gamesim/SimPlayers.h"

#include <cmath>
#include <cstring>

CSimScene::CSimScene(const SimOptions& options)
    : m_options(options),
      m_scene(options.width, options.height, static_cast<std::uint32_t>(options.seed)),
      m_picture(static_cast<std::size_t>(options.width) * static_cast<std::size_t>(options.height))
{
    // The menu's palette: the scene's, darkened, so entries 192 and 255 differ.
    m_menuPalette.assign(m_scene.Palette(), m_scene.Palette() + 1024);
    for (int i = 0; i < 1024; ++i)
        if (i % 4 != 3)
            m_menuPalette[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(m_menuPalette[static_cast<std::size_t>(i)] / 2);
}

bool CSimScene::InMenu(int frame) const
{
    if (m_options.menuEvery <= 0)
        return false;
    return (frame / (m_options.menuEvery * m_options.fps)) % 2 == 1;
}

const std::uint8_t* CSimScene::Palette(int frame) const
{
    return InMenu(frame) ? m_menuPalette.data() : m_scene.Palette();
}

void CSimScene::DrawMenu(int frame, std::uint8_t* out) const
{
    const int w = m_options.width, h = m_options.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            std::uint8_t v = static_cast<std::uint8_t>(16 + (y * 16 / h));
            const bool box = x > w / 3 && x < 2 * w / 3 && y > h / 4 && y < 3 * h / 4;
            if (box)
                v = static_cast<std::uint8_t>(96 + ((y - h / 4) / 40 == (frame / 15) % 6 ? 12 : 6));
            out[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                static_cast<std::size_t>(x)] = v;
        }
}

void CSimScene::Render(int frame, std::uint8_t* out) const
{
    if (InMenu(frame))
        DrawMenu(frame, out);
    else
        m_scene.Render(frame, out);
}

void CSimScene::Sign(int frame, std::uint8_t* out) const
{
    if (InMenu(frame))
        return;
    const std::uint32_t signature = m_options.build2021 ? kSignature2021 : kSignature2020;
    std::memcpy(out, &signature, 4);
}

void CSimScene::MarkAsWrapper(std::uint8_t* out) const
{
    // Every pixel of the row changes, so the mark shows on any picture;
    // done twice, it undoes itself.
    std::uint8_t* row = out + static_cast<std::size_t>(m_options.height - 1) *
                                  static_cast<std::size_t>(m_options.width);
    for (int x = 0; x < m_options.width; ++x)
        row[x] = static_cast<std::uint8_t>(~row[x]);
}

void CSimScene::OwnPicture(int frame, std::uint8_t* out) const
{
    Render(frame, out);
    Sign(frame, out);
}

void CSimScene::WrapperPicture(int frame, std::uint8_t* out) const
{
    Render(frame, out);
    MarkAsWrapper(out);
}

int CSimScene::FirstWrapperFrame() const
{
    if (!m_options.wrapper)
        return -1;
    if (m_options.wrapperAfter <= 0)
        return 0;
    // In the demo's own steps: whole microseconds, as its frame clock runs.
    const long long after = std::llround(m_options.wrapperAfter * 1e6);
    const long long period = 1000000 / m_options.fps;
    return static_cast<int>(after / period + 1);
}

void CSimScene::Picture(int frame, std::uint8_t* out) const
{
    const int first = FirstWrapperFrame();
    if (first >= 0 && frame >= first)
        WrapperPicture(frame, out);
    else
        OwnPicture(frame, out);
}

void CSimScene::Draw(int frame, CGameMemory& memory)
{
    memory.SetFrameNumber(CGameMemory::kFrameBusy);
    // Drawn aside and copied in whole, so that the game's buffer always starts
    // with the signature while in the game, as the real game's does. The
    // scene is rendered once for both buffers.
    Render(frame, m_picture.data());
    if (std::uint8_t* wrapper = memory.WrapperScreen())
    {
        MarkAsWrapper(m_picture.data());
        std::memcpy(wrapper, m_picture.data(), m_picture.size());
        MarkAsWrapper(m_picture.data());
    }
    Sign(frame, m_picture.data());
    std::memcpy(memory.Screen(), m_picture.data(), m_picture.size());
    memory.SetPalette(Palette(frame));
    memory.SetCursor(m_scene.Cursor(frame));
    WritePlayers(m_scene, frame, memory);
    memory.SetFrameNumber(static_cast<std::uint32_t>(frame));
}
