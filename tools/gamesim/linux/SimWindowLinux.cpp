#include "tools/gamesim/SimWindow.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

// The X11 window, drawn with PutImage in strips that fit the server's
// request size, from a 32-bit copy of the picture.

struct CSimWindow::State
{
    xcb_connection_t* m_pConnection = nullptr;
    xcb_window_t m_window = 0;
    xcb_gcontext_t m_gc = 0;
    xcb_atom_t m_deleteAtom = 0;
    std::uint8_t m_nDepth = 24;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<std::uint32_t> m_pixels;

    xcb_atom_t Intern(const char* name);
};

CSimWindow::CSimWindow() : m_pState(std::make_unique<State>()) {}

CSimWindow::~CSimWindow()
{
    if (m_pState->m_pConnection)
        xcb_disconnect(m_pState->m_pConnection);
}

xcb_atom_t CSimWindow::State::Intern(const char* name)
{
    auto cookie =
        xcb_intern_atom(m_pConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_pConnection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : 0;
    std::free(reply);
    return atom;
}

bool CSimWindow::Open(const char* title, int width, int height, std::string& error)
{
    State& s = *m_pState;
    s.m_pConnection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(s.m_pConnection))
    {
        error = "can't open the X display (is DISPLAY set? run under xvfb-run for a virtual one)";
        return false;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(s.m_pConnection)).data;
    if (screen->root_depth != 24 && screen->root_depth != 32)
    {
        error = "the display needs 24-bit colour";
        return false;
    }
    s.m_nDepth = screen->root_depth;
    s.m_nWidth = width;
    s.m_nHeight = height;
    s.m_window = xcb_generate_id(s.m_pConnection);
    const std::uint32_t values[] = {screen->black_pixel,
                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(s.m_pConnection, XCB_COPY_FROM_PARENT, s.m_window, screen->root, 0, 0,
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(title));
    xcb_change_property(s.m_pConnection, XCB_PROP_MODE_REPLACE, s.m_window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, length, title);
    xcb_change_property(s.m_pConnection, XCB_PROP_MODE_REPLACE, s.m_window,
                        s.Intern("_NET_WM_NAME"), s.Intern("UTF8_STRING"), 8, length, title);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(s.m_pConnection, XCB_PROP_MODE_REPLACE, s.m_window, s.Intern("_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    const xcb_atom_t protocols = s.Intern("WM_PROTOCOLS");
    s.m_deleteAtom = s.Intern("WM_DELETE_WINDOW");
    xcb_change_property(s.m_pConnection, XCB_PROP_MODE_REPLACE, s.m_window, protocols,
                        XCB_ATOM_ATOM, 32, 1, &s.m_deleteAtom);
    s.m_gc = xcb_generate_id(s.m_pConnection);
    xcb_create_gc(s.m_pConnection, s.m_gc, s.m_window, 0, nullptr);
    xcb_map_window(s.m_pConnection, s.m_window);
    xcb_flush(s.m_pConnection);
    s.m_pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    return true;
}

void CSimWindow::Show(const std::uint8_t* picture, const std::uint8_t* palette)
{
    State& s = *m_pState;
    std::uint32_t colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = static_cast<std::uint32_t>(palette[4 * i]) << 16 |
                     static_cast<std::uint32_t>(palette[4 * i + 1]) << 8 | palette[4 * i + 2];
    for (std::size_t i = 0; i < s.m_pixels.size(); ++i)
        s.m_pixels[i] = colours[picture[i]];
    const std::size_t maxBytes =
        static_cast<std::size_t>(xcb_get_maximum_request_length(s.m_pConnection)) * 4 - 64;
    const int rowsPerStrip =
        std::max(1, static_cast<int>(maxBytes / (static_cast<std::size_t>(s.m_nWidth) * 4)));
    for (int y = 0; y < s.m_nHeight; y += rowsPerStrip)
    {
        const int rows = std::min(rowsPerStrip, s.m_nHeight - y);
        xcb_put_image(s.m_pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, s.m_window, s.m_gc,
                      static_cast<std::uint16_t>(s.m_nWidth), static_cast<std::uint16_t>(rows), 0,
                      static_cast<std::int16_t>(y), 0, s.m_nDepth,
                      static_cast<std::uint32_t>(rows * s.m_nWidth * 4),
                      reinterpret_cast<const std::uint8_t*>(
                          &s.m_pixels[static_cast<std::size_t>(y * s.m_nWidth)]));
    }
    xcb_flush(s.m_pConnection);
}

bool CSimWindow::Pump()
{
    State& s = *m_pState;
    if (xcb_connection_has_error(s.m_pConnection))
        return false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(s.m_pConnection))
    {
        const std::uint8_t type = event->response_type & 0x7F;
        bool closed = false;
        if (type == XCB_CLIENT_MESSAGE)
            closed = reinterpret_cast<xcb_client_message_event_t*>(event)->data.data32[0] ==
                     s.m_deleteAtom;
        else if (type == XCB_DESTROY_NOTIFY)
            closed = true;
        std::free(event);
        if (closed)
            return false;
    }
    return true;
}
