// The test backend's hotkeys: none are taken and none are pressed; the
// interface tests call the dialog's hotkey handler themselves.

#include "desktop/Hotkeys.h"

int PlatformRegisterHotkeys(std::vector<int>& taken)
{
    taken.clear();
    return -1;
}

std::vector<int> PlatformPressedHotkeys()
{
    return {};
}

void PlatformUnregisterHotkeys() {}
