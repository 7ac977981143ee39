// The picture on the screen: the frame buffer's bitmap painted with the GDI's
// DIB calls, 1:1 in the main dialog or stretched in the detached window, and
// the detached window itself.

#include "base/ByteOrder.h"
#include "capture/Capture.h"
#include "manager/VideoManager.h"
#include "ui/core/TrellonCore.h"
#include "ui/win32/MainDialog.h"
#include "ui/win32/Text.h"

#include <algorithm>
#include <cstring>

namespace
{
// The video area: the top-left of the main dialog's client area, which no
// control covers.
constexpr int kVideoWidth = 640;
constexpr int kVideoHeight = 480;
// The largest picture the frame buffer holds behind its header.
constexpr std::int64_t kMaxPicturePixels = CVideoManager::kFrameBufferBytes - kDisplayHeaderBytes;

// The picture's size from its bitmap header (rows top to bottom: a negative
// height); false for a header that is not of a picture the buffer holds.
bool PictureSize(const std::uint8_t* info, int& width, int& height)
{
    width = static_cast<std::int32_t>(LoadLe32(info + 4));
    height = -static_cast<std::int32_t>(LoadLe32(info + 8));
    return width > 0 && height > 0 &&
           static_cast<std::int64_t>(width) * height <= kMaxPicturePixels;
}

// A bitmap description of the picture's first `rows` rows (the colour table
// with it), so that the GDI takes the top of a top-down picture without
// reading past what is drawn.
struct PartialHeader
{
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};
} // namespace

// The core prepared a frame in the frame buffer: it is drawn now, unless the
// window that shows the video is being painted, whose paint draws it next.
void CMainDialog::ShowPicture(const DisplayFrame& frame)
{
    if (frame.info == nullptr || frame.pixels == nullptr)
        return;
    int width = 0, height = 0;
    if (!PictureSize(frame.info, width, height))
        return;
    m_pInfo = frame.info;
    m_pPixels = frame.pixels;
    const HWND shows = VideoWindow();
    if (shows == m_hPainting || shows == nullptr)
        return;
    if (HDC dc = GetDC(shows))
    {
        DrawPicture(shows, dc);
        ReleaseDC(shows, dc);
    }
}

// The frame buffer is about to hold something else: what is shown is copied.
void CMainDialog::KeepPicture()
{
    if (m_pInfo == nullptr || (!m_kept.empty() && m_pInfo == m_kept.data()))
        return;
    int width = 0, height = 0;
    if (!PictureSize(m_pInfo, width, height))
    {
        m_pInfo = m_pPixels = nullptr;
        return;
    }
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> kept(kDisplayHeaderBytes + pixels);
    std::memcpy(kept.data(), m_pInfo, kDisplayHeaderBytes);
    std::memcpy(kept.data() + kDisplayHeaderBytes, m_pPixels, pixels);
    m_kept = std::move(kept);
    m_pInfo = m_kept.data();
    m_pPixels = m_kept.data() + kDisplayHeaderBytes;
}

bool CMainDialog::HasPicture() const
{
    return m_pInfo != nullptr;
}

void CMainDialog::DrawPicture(HWND window, HDC dc) const
{
    int width = 0, height = 0;
    if (m_pInfo == nullptr || !PictureSize(m_pInfo, width, height))
        return;
    // The part of the picture drawn: g_nDisplayWidth x g_nDisplayHeight from
    // its top-left corner, as far as the picture reaches.
    const int shownWidth = std::min(g_nDisplayWidth, width);
    const int shownHeight = std::min(g_nDisplayHeight, height);
    if (shownWidth <= 0 || shownHeight <= 0)
        return;
    PartialHeader partial{};
    std::memcpy(&partial, m_pInfo, sizeof partial);
    partial.header.biHeight = -shownHeight;
    partial.header.biSizeImage = 0;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(&partial);

    if (window == m_hView)
    {
        RECT client{};
        GetClientRect(window, &client);
        // Nearest pixel: the game's pixels stay sharp at any size.
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, shownWidth, shownHeight,
                      m_pPixels, info, DIB_RGB_COLORS, SRCCOPY);
    }
    else
    {
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(shownWidth), static_cast<DWORD>(shownHeight),
                          0, 0, 0, static_cast<UINT>(shownHeight), m_pPixels, info, DIB_RGB_COLORS);
    }
}

// The main dialog's paint: the controls paint themselves; the video area
// runs the core's paint (the playback step) and shows the picture, unless
// the video is shown in the detached window, where the area keeps the
// dialog's background.
void CMainDialog::OnPaint()
{
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (m_hView == nullptr && !IsIconic(m_hWnd))
    {
        if (m_pCore && m_nLongTasks == 0)
        {
            m_hPainting = m_hWnd;
            m_pCore->OnPaint();
            m_hPainting = nullptr;
        }
        if (m_hView == nullptr)
            DrawPicture(m_hWnd, dc);
    }
    EndPaint(m_hWnd, &paint);
}

void CMainDialog::InvalidateVideo()
{
    if (m_hView != nullptr)
    {
        InvalidateRect(m_hView, nullptr, FALSE);
        return;
    }
    if (m_hWnd == nullptr)
        return;
    const RECT area{0, 0, std::max(kVideoWidth, g_nDisplayWidth),
                    std::max(kVideoHeight, g_nDisplayHeight)};
    InvalidateRect(m_hWnd, &area, FALSE);
}

// ---------------------------------------------------------------------------
// The detached window: a modeless dialog owned by the main dialog, with no
// controls. Its paints run the core's paint and stretch the picture over the
// whole client area; a size change repaints it at once.

void CMainDialog::OpenDetachedView()
{
    if (m_hView == nullptr)
    {
        const DLGTEMPLATE* dialog = FindDialogTemplate(m_hInstance, IDD_RESIZABLE_VIEW);
        if (dialog == nullptr)
            return;
        // WM_INITDIALOG, inside, sets m_hView.
        CreateDialogIndirectParamW(m_hInstance, dialog, m_hWnd, ViewProc,
                                   reinterpret_cast<LPARAM>(this));
        if (m_hView == nullptr)
            return;
        s_bViewOpen = 1;
        SendMessageW(m_hView, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        SendMessageW(m_hView, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
        ShowWindow(m_hView, SW_SHOWNORMAL);
        // The video area keeps the dialog's background from now on.
        const RECT area{0, 0, kVideoWidth, kVideoHeight};
        InvalidateRect(m_hWnd, &area, TRUE);
    }
    SetForegroundWindow(m_hView);
    SetFocus(m_hView);
}

void CMainDialog::SizeDetachedView(int width, int height)
{
    if (m_hView == nullptr || width <= 0 || height <= 0)
        return;
    RECT frame{};
    GetWindowRect(m_hView, &frame);
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(m_hView, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(m_hView, GWL_EXSTYLE));
    // The border and caption around a client area of `w` x `h`.
    const auto around = [&](int w, int h)
    {
        RECT rect{frame.left, frame.top, frame.left + w, frame.top + h};
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
        return rect;
    };
    RECT wanted = around(width, height);
    // A picture larger than the screen's free area: the largest size of its
    // shape that fits, at the area's top-left.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(m_hView, MONITOR_DEFAULTTONEAREST), &monitor))
    {
        const RECT& free = monitor.rcWork;
        const int roomWidth = (free.right - free.left) - ((wanted.right - wanted.left) - width);
        const int roomHeight = (free.bottom - free.top) - ((wanted.bottom - wanted.top) - height);
        if (roomWidth > 0 && roomHeight > 0 && (width > roomWidth || height > roomHeight))
        {
            const double scale = std::min(static_cast<double>(roomWidth) / width,
                                          static_cast<double>(roomHeight) / height);
            wanted = around(std::max(1, static_cast<int>(width * scale)),
                            std::max(1, static_cast<int>(height * scale)));
        }
        const int w = wanted.right - wanted.left, h = wanted.bottom - wanted.top;
        if (wanted.right > free.right || wanted.left < free.left)
            wanted.left = free.left;
        if (wanted.bottom > free.bottom || wanted.top < free.top)
            wanted.top = free.top;
        wanted.right = wanted.left + w;
        wanted.bottom = wanted.top + h;
    }
    MoveWindow(m_hView, wanted.left, wanted.top, wanted.right - wanted.left,
               wanted.bottom - wanted.top, TRUE);
    ShowWindow(m_hView, SW_SHOW);
}

INT_PTR CALLBACK CMainDialog::ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CMainDialog*>(lParam)->m_hView = window;
        return TRUE;
    }
    auto* self = reinterpret_cast<CMainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    return self->OnViewMessage(window, message, wParam, lParam);
}

INT_PTR CMainDialog::OnViewMessage(HWND view, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_PAINT:
    {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(view, &paint);
        if (m_pCore && m_nLongTasks == 0)
        {
            m_hPainting = view;
            m_pCore->OnPaint();
            m_hPainting = nullptr;
        }
        if (HasPicture())
            DrawPicture(view, dc);
        else
            FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(view, &paint);
        return TRUE;
    }
    case WM_ERASEBKGND:
        // Every pixel is painted from the picture: nothing to erase.
        SetWindowLongPtrW(view, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_SIZE:
        InvalidateRect(view, nullptr, FALSE);
        return TRUE;
    case WM_COMMAND:
        // Enter, Escape and the close box: the window goes.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            DestroyWindow(view);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(view);
        return TRUE;
    case WM_DESTROY:
        if (m_hView == view)
        {
            m_hView = nullptr;
            s_bViewOpen = 0;
            // The picture goes back to the main dialog.
            if (m_pCore && m_hWnd != nullptr)
                m_pCore->OnViewClosed();
        }
        return TRUE;
    default:
        return FALSE;
    }
}
