#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <xcb/xcb.h>

// The demo game's X11 window: titled like the game, carrying _NET_WM_PID so
// that the recorder can find the process, and showing the 8-bit picture
// through the palette.
class CSimWindow
{
public:
    CSimWindow() = default;
    ~CSimWindow();
    CSimWindow(const CSimWindow&) = delete;
    CSimWindow& operator=(const CSimWindow&) = delete;

    bool Open(const char* title, int width, int height, std::string& error);
    void Show(const std::uint8_t* picture, const std::uint8_t* palette);
    // Handles pending events; false once the window was closed.
    bool Pump();

private:
    xcb_atom_t Intern(const char* name);

    xcb_connection_t* m_pConnection = nullptr;
    xcb_window_t m_window = 0;
    xcb_gcontext_t m_gc = 0;
    xcb_atom_t m_deleteAtom = 0;
    std::uint8_t m_nDepth = 24;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<std::uint32_t> m_pixels;
};
