#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The demo game's window: titled like the game, owned by the demo's process
// where the recorder looks for it (the window's process id on Windows,
// _NET_WM_PID on X11), and showing the 8-bit picture through the palette.
// Each platform has its own (linux/SimWindowLinux.cpp with xcb,
// win32/SimWindowWin32.cpp with GDI).
class CSimWindow
{
public:
    CSimWindow();
    ~CSimWindow();
    CSimWindow(const CSimWindow&) = delete;
    CSimWindow& operator=(const CSimWindow&) = delete;

    bool Open(const char* title, int width, int height, std::string& error);
    // Shows `picture` (width x height bytes) through `palette` (256 entries
    // of red, green, blue and a fourth byte). Both stay valid until the next
    // call: the window may paint from them again.
    void Show(const std::uint8_t* picture, const std::uint8_t* palette);
    // Handles pending events; false once the window was closed.
    bool Pump();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
