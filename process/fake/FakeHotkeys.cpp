// The test backend's hotkeys: none are taken and none are pressed; the
// interface tests call the dialog's hotkey handler themselves.

#include "Hotkeys.h"

const char* PlatformHotkeyName(int hotkey)
{
    return hotkey == HK_TOGGLE_RECORDING ? "Ctrl+Alt+R"
           : hotkey == HK_PAUSE_RECORDING ? "Ctrl+Alt+P"
                                          : "?";
}

int PlatformGrabHotkeys(std::vector<int>& taken)
{
    taken.clear();
    return -1;
}

std::vector<int> PlatformTakeHotkeys()
{
    return {};
}

void PlatformReleaseHotkeys() {}
