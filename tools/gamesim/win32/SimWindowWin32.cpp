#include "tools/gamesim/SimWindow.h"

#include <windows.h>

// The Windows window: a top-level window whose client area is the picture,
// painted with StretchDIBits from the 8-bit picture itself as a top-down
// DIB, its colour table filled from the game's palette. Show paints at once;
// WM_PAINT repaints the last picture (after the window was covered, say).

namespace
{
const char kClassName[] = "TrellonGameSim";
}

struct CSimWindow::State
{
    HWND m_hWnd = nullptr;
    bool m_bClosed = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
    const std::uint8_t* m_pPicture = nullptr;
    struct
    {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } m_bitmap{};

    void Paint(HDC dc) const;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

void CSimWindow::State::Paint(HDC dc) const
{
    if (m_pPicture == nullptr)
        return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, m_nWidth, m_nHeight, m_pPicture,
                  reinterpret_cast<const BITMAPINFO*>(&m_bitmap), DIB_RGB_COLORS, SRCCOPY);
}

LRESULT CALLBACK CSimWindow::State::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam)
{
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message)
    {
    case WM_PAINT:
    {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (state)
            state->Paint(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the picture covers the whole client area
    case WM_CLOSE:
        if (state)
            state->m_bClosed = true;
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (state)
        {
            state->m_bClosed = true;
            state->m_hWnd = nullptr;
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

CSimWindow::CSimWindow() : m_pState(std::make_unique<State>()) {}

CSimWindow::~CSimWindow()
{
    if (m_pState->m_hWnd)
    {
        SetWindowLongPtrA(m_pState->m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_pState->m_hWnd);
    }
}

bool CSimWindow::Open(const char* title, int width, int height, std::string& error)
{
    State& s = *m_pState;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &State::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    {
        error = "can't register the window class: error " + std::to_string(GetLastError());
        return false;
    }

    s.m_nWidth = width;
    s.m_nHeight = height;
    s.m_bitmap.header.biSize = sizeof(BITMAPINFOHEADER);
    s.m_bitmap.header.biWidth = width;
    s.m_bitmap.header.biHeight = -height; // top-down, as the game's buffer is
    s.m_bitmap.header.biPlanes = 1;
    s.m_bitmap.header.biBitCount = 8;
    s.m_bitmap.header.biCompression = BI_RGB;
    s.m_bitmap.header.biClrUsed = 256;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    s.m_hWnd = CreateWindowExA(0, kClassName, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                               instance, nullptr);
    if (s.m_hWnd == nullptr)
    {
        error = "can't create the window: error " + std::to_string(GetLastError());
        return false;
    }
    SetWindowLongPtrA(s.m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    ShowWindow(s.m_hWnd, SW_SHOWNORMAL);
    UpdateWindow(s.m_hWnd);
    return true;
}

void CSimWindow::Show(const std::uint8_t* picture, const std::uint8_t* palette)
{
    State& s = *m_pState;
    if (s.m_hWnd == nullptr)
        return;
    for (int i = 0; i < 256; ++i)
    {
        RGBQUAD& colour = s.m_bitmap.colours[i];
        colour.rgbRed = palette[4 * i];
        colour.rgbGreen = palette[4 * i + 1];
        colour.rgbBlue = palette[4 * i + 2];
        colour.rgbReserved = 0;
    }
    s.m_pPicture = picture;
    if (HDC dc = GetDC(s.m_hWnd))
    {
        s.Paint(dc);
        ReleaseDC(s.m_hWnd, dc);
    }
}

bool CSimWindow::Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !m_pState->m_bClosed;
}
