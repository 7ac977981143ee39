// Global hotkeys on Windows: RegisterHotKey on the calling thread; the
// presses arrive as WM_HOTKEY messages in its queue.

#include "desktop/Hotkeys.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace
{
bool g_bRegistered[3] = {};
}

int PlatformRegisterHotkeys(std::vector<int>& taken)
{
    PlatformUnregisterHotkeys();
    taken.clear();
    const struct
    {
        int hotkey;
        UINT key;
    } keys[] = {{HK_TOGGLE_RECORDING, 'R'}, {HK_PAUSE_RECORDING, 'P'}};
    for (const auto& k : keys)
    {
        g_bRegistered[k.hotkey] =
            RegisterHotKey(nullptr, k.hotkey, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, k.key) != 0;
        if (!g_bRegistered[k.hotkey])
            taken.push_back(k.hotkey);
    }
    return -1;
}

std::vector<int> PlatformPressedHotkeys()
{
    std::vector<int> pressed;
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_HOTKEY, WM_HOTKEY, PM_REMOVE))
        pressed.push_back(static_cast<int>(message.wParam));
    return pressed;
}

void PlatformUnregisterHotkeys()
{
    for (int hotkey : {HK_TOGGLE_RECORDING, HK_PAUSE_RECORDING})
        if (g_bRegistered[hotkey])
            UnregisterHotKey(nullptr, hotkey);
    g_bRegistered[HK_TOGGLE_RECORDING] = g_bRegistered[HK_PAUSE_RECORDING] = false;
}
