// Global hotkeys on X11: a connection of their own grabs Ctrl+Alt+R and
// Ctrl+Alt+P on every screen's root window, once for each combination of the
// lock modifiers (Caps Lock and Num Lock), so that a lit lock key does not
// defeat them. A grab that another client holds fails with BadAccess: that
// key is reported as taken.

#include "desktop/Hotkeys.h"

#include <cstdint>
#include <cstdlib>
#include <xcb/xcb.h>

namespace
{
struct Key
{
    int hotkey;
    xcb_keysym_t lower, upper;
    xcb_keycode_t code = 0;
};

xcb_connection_t* g_pConnection = nullptr;
Key g_keys[] = {{HK_TOGGLE_RECORDING, 'r', 'R'}, {HK_PAUSE_RECORDING, 'p', 'P'}};

constexpr std::uint16_t kModifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1; // Ctrl+Alt
// Caps Lock, Num Lock (Mod2 on every common layout), and both.
constexpr std::uint16_t kLocks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// The keycode that gives `lower` or `upper` in the keyboard mapping; 0 for none.
xcb_keycode_t KeycodeOf(xcb_connection_t* c, xcb_keysym_t lower, xcb_keysym_t upper)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (map == nullptr)
        return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    const int perCode = map->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int k = 0; k < count && found == 0; ++k)
        for (int s = 0; s < perCode; ++s)
        {
            const xcb_keysym_t sym = syms[k * perCode + s];
            if (sym == lower || sym == upper)
            {
                found = static_cast<xcb_keycode_t>(setup->min_keycode + k);
                break;
            }
        }
    std::free(map);
    return found;
}
} // namespace

int PlatformRegisterHotkeys(std::vector<int>& taken)
{
    PlatformUnregisterHotkeys();
    taken.clear();
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
    {
        xcb_disconnect(c);
        for (const Key& key : g_keys)
            taken.push_back(key.hotkey);
        return -1;
    }
    g_pConnection = c;
    for (Key& key : g_keys)
    {
        key.code = KeycodeOf(c, key.lower, key.upper);
        bool ok = key.code != 0;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); ok && it.rem > 0;
             xcb_screen_next(&it))
            for (std::uint16_t lock : kLocks)
            {
                xcb_generic_error_t* error = xcb_request_check(
                    c, xcb_grab_key_checked(c, 1, it.data->root,
                                            static_cast<std::uint16_t>(kModifiers | lock), key.code,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
                if (error != nullptr)
                {
                    ok = false; // another client holds it
                    std::free(error);
                    break;
                }
            }
        if (!ok)
        {
            taken.push_back(key.hotkey);
            for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); key.code != 0 && it.rem > 0;
                 xcb_screen_next(&it))
                for (std::uint16_t lock : kLocks)
                    xcb_ungrab_key(c, key.code, it.data->root,
                                   static_cast<std::uint16_t>(kModifiers | lock));
            key.code = 0;
        }
    }
    xcb_flush(c);
    return xcb_get_file_descriptor(c);
}

std::vector<int> PlatformPressedHotkeys()
{
    std::vector<int> pressed;
    if (g_pConnection == nullptr)
        return pressed;
    while (xcb_generic_event_t* event = xcb_poll_for_event(g_pConnection))
    {
        if ((event->response_type & 0x7F) == XCB_KEY_PRESS)
        {
            const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
            const auto state = static_cast<std::uint16_t>(
                press->state & ~static_cast<unsigned>(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
            for (const Key& key : g_keys)
                if (key.code != 0 && press->detail == key.code && state == kModifiers)
                    pressed.push_back(key.hotkey);
        }
        std::free(event);
    }
    return pressed;
}

void PlatformUnregisterHotkeys()
{
    if (g_pConnection != nullptr)
        xcb_disconnect(g_pConnection); // the server drops the grabs with the connection
    g_pConnection = nullptr;
    for (Key& key : g_keys)
        key.code = 0;
}
