#pragma once

#include <string>
#include <vector>

// Global hotkeys: keys that reach TrellonHD whatever window has the focus
// (the game's, while it is played). Each backend takes them the way its
// system offers: on X11 key grabs on the root window, on Windows
// RegisterHotKey. The user interface only hears which hotkey was pressed.
enum PlatformHotkey
{
    HK_TOGGLE_RECORDING = 1, // Ctrl+Alt+R
    HK_PAUSE_RECORDING = 2,  // Ctrl+Alt+P
};

// The keys as people read them: "Ctrl+Alt+R" (Hotkeys.cpp, for every backend).
const char* PlatformHotkeyName(int hotkey);

// Registers both hotkeys. Returns a descriptor that becomes readable when one
// was pressed (-1 where presses arrive through the thread's messages, or
// when none could be taken). `taken` receives the keys that another program
// holds, which this one can't have.
int PlatformRegisterHotkeys(std::vector<int>& taken);
// The hotkeys pressed since the last call, in order.
std::vector<int> PlatformPressedHotkeys();
// Lets go of the keys.
void PlatformUnregisterHotkeys();
