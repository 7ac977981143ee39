#include "desktop/Hotkeys.h"

const char* PlatformHotkeyName(int hotkey)
{
    return hotkey == HK_TOGGLE_RECORDING  ? "Ctrl+Alt+R"
           : hotkey == HK_PAUSE_RECORDING ? "Ctrl+Alt+P"
                                          : "?";
}
