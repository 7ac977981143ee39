// The main dialog's window: creation from the template, the message loop with
// its keyboard filter and hotkeys, and the controls' notifications, each
// handed to the dialog's logic.

#include "ui/win32/MainDialog.h"

#include "desktop/Hotkeys.h"
#include "ui/core/FfmpegExporter.h"
#include "ui/core/TrellonCore.h"
#include "ui/win32/ResourceIds.h"
#include "ui/win32/Text.h"

// clang-format off
#include <commctrl.h>
#include <shellapi.h>
#include <timeapi.h>
// clang-format on

#include <string>
#include <vector>

namespace
{
constexpr wchar_t kMainClass[] = L"TrellonHD.Main"; // the template's CLASS
constexpr UINT_PTR kRecordTimer = 1;
constexpr UINT_PTR kPaintTimer = 2;

// Registers the main dialog's own window class: a dialog window (DefDlgProc
// with the dialog's extra bytes) that carries the icon and can be found by
// its name.
bool RegisterMainClass(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefDlgProcW;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kMainClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

UINT EnabledState(bool enabled)
{
    return static_cast<UINT>(enabled ? MF_ENABLED : MF_GRAYED);
}

UINT CheckState(bool checked)
{
    return static_cast<UINT>(checked ? MF_CHECKED : MF_UNCHECKED);
}

// Whether a key goes to a field the user types into (none of the main
// dialog's fields takes typing today; a key there is the field's own).
bool IsTypingField(HWND window)
{
    wchar_t name[16] = {};
    if (window == nullptr || GetClassNameW(window, name, 16) == 0 || _wcsicmp(name, L"Edit") != 0)
        return false;
    return (GetWindowLongW(window, GWL_STYLE) & ES_READONLY) == 0;
}

HICON LoadAppIcon(HINSTANCE instance, int size)
{
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
}
} // namespace

CMainDialog::CMainDialog(HINSTANCE instance, std::string commandLine, std::string journalFolder)
    : m_hInstance(instance), m_strCommandLine(std::move(commandLine)),
      m_strJournalFolder(std::move(journalFolder))
{
    m_hIcon = LoadAppIcon(instance, GetSystemMetrics(SM_CXICON));
    m_hSmallIcon = LoadAppIcon(instance, GetSystemMetrics(SM_CXSMICON));
}

CMainDialog::~CMainDialog()
{
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
    m_pCore.reset(); // the video manager with it, which lets the game go
    if (m_bHotkeys)
        PlatformUnregisterHotkeys();
    for (HICON icon : {m_hIcon, m_hSmallIcon})
        if (icon != nullptr)
            DestroyIcon(icon);
}

bool CMainDialog::Create()
{
    if (!RegisterMainClass(m_hInstance, m_hIcon, m_hSmallIcon))
        return false;
    const DLGTEMPLATE* dialog = FindDialogTemplate(m_hInstance, IDD_MAIN);
    if (dialog == nullptr)
        return false;
    // WM_INITDIALOG, inside, sets m_hWnd and initialises the dialog.
    CreateDialogIndirectParamW(m_hInstance, dialog, nullptr, DialogProc,
                               reinterpret_cast<LPARAM>(this));
    if (m_hWnd == nullptr)
        return false;
    ListenForHotkeys();
    return true;
}

int CMainDialog::Run()
{
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (PreTranslateMessage(message))
            continue;
        if (m_hView != nullptr && IsDialogMessageW(m_hView, &message))
            continue;
        if (m_hWnd != nullptr && IsDialogMessageW(m_hWnd, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

bool CMainDialog::PreTranslateMessage(MSG& message)
{
    // Global hotkeys come to the thread, not to a window.
    if (message.hwnd == nullptr && message.message == WM_HOTKEY)
    {
        if (m_pCore)
            m_pCore->OnHotkey(static_cast<int>(message.wParam));
        return true;
    }
    // Escape and Enter go nowhere in the main dialog: it is never closed,
    // nor the default button pressed, by them.
    if (message.message == WM_KEYDOWN &&
        (message.wParam == VK_ESCAPE || message.wParam == VK_RETURN) && m_hWnd != nullptr &&
        (message.hwnd == m_hWnd || IsChild(m_hWnd, message.hwnd)))
        return true;
    // Ctrl+E exports from the main dialog and the detached window alike, as
    // the menus' Export... does (the core refuses it when it can't).
    if (message.message == WM_KEYDOWN && message.wParam == 'E' && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_MENU) >= 0 && m_pCore &&
        IsOwnWindow(message.hwnd))
    {
        m_pCore->OnExport();
        return true;
    }
    // M mutes and unmutes playback's sound, as the menus' Mute Sound does.
    if (message.message == WM_KEYDOWN && message.wParam == 'M' && GetKeyState(VK_CONTROL) >= 0 &&
        GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_MENU) >= 0 && m_pCore &&
        IsOwnWindow(message.hwnd) && !IsTypingField(message.hwnd))
    {
        m_pCore->OnMute();
        return true;
    }
    return false;
}

bool CMainDialog::IsOwnWindow(HWND window) const
{
    for (HWND own : {m_hWnd, m_hView})
        if (own != nullptr && (window == own || IsChild(own, window)))
            return true;
    return false;
}

// Export... with its shortcut, greyed when the core can't export now.
void CMainDialog::AddExportItem(HMENU menu, UINT flags) const
{
    const std::wstring text = LoadText(m_hInstance, IDS_EXPORT);
    if (!text.empty())
        AppendMenuW(menu, flags | EnabledState(m_pCore && m_pCore->CanExport()), IDM_EXPORT,
                    (text + L"\tCtrl+E").c_str());
}

// Record Sound (greyed while recording: a recording keeps what it started
// with) and Mute Sound, each checked as the core's switch stands.
void CMainDialog::AddSoundItems(HMENU menu) const
{
    const std::wstring record = LoadText(m_hInstance, IDS_RECORD_SOUND);
    const std::wstring mute = LoadText(m_hInstance, IDS_MUTE);
    if (record.empty() || mute.empty())
        return;
    AppendMenuW(menu, MF_STRING, IDM_RECORD_SOUND, record.c_str());
    AppendMenuW(menu, MF_STRING, IDM_MUTE, (mute + L"\tM").c_str());
    UpdateSoundItems(menu);
}

void CMainDialog::UpdateSoundItems(HMENU menu) const
{
    if (!m_pCore)
        return;
    CheckMenuItem(menu, IDM_RECORD_SOUND, MF_BYCOMMAND | CheckState(m_pCore->IsRecordSoundOn()));
    EnableMenuItem(menu, IDM_RECORD_SOUND,
                   MF_BYCOMMAND | EnabledState(m_pCore->CanChangeRecordSound()));
    CheckMenuItem(menu, IDM_MUTE, MF_BYCOMMAND | CheckState(m_pCore->IsMuted()));
}

bool CMainDialog::OnMenuCommand(int id)
{
    switch (id)
    {
    case IDM_EXPORT:
        m_pCore->OnExport();
        return true;
    case IDM_RECORD_SOUND:
        // The menu greys it while recording; the core refuses it then too.
        m_pCore->OnRecordSound();
        return true;
    case IDM_MUTE:
        m_pCore->OnMute();
        return true;
    case IDM_ABOUTBOX:
        m_pCore->OnSysCommand(IDM_ABOUTBOX);
        return true;
    default:
        return false;
    }
}

// A right click anywhere in the window (or the menu key: then at the
// video's corner) offers what the Qt window's context menu does.
void CMainDialog::OnContextMenu(LPARAM where)
{
    POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
    if (where == static_cast<LPARAM>(-1))
    {
        at = POINT{0, 0};
        ClientToScreen(m_hWnd, &at);
    }
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    AddExportItem(menu, MF_STRING);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AddSoundItems(menu);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, LoadText(m_hInstance, IDS_ABOUTBOX).c_str());
    const int chosen = static_cast<int>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_hWnd, nullptr));
    DestroyMenu(menu);
    if (chosen != 0)
        OnMenuCommand(chosen);
}

void CMainDialog::ListenForHotkeys()
{
    std::vector<int> taken;
    PlatformRegisterHotkeys(taken);
    m_bHotkeys = true;
    if (!taken.empty() && m_pCore)
        m_pCore->ReportTakenHotkeys(taken);
}

INT_PTR CALLBACK CMainDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CMainDialog*>(lParam);
        self->m_hWnd = window;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<CMainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || !self->m_pCore)
        return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

void CMainDialog::OnInitDialog()
{
    wchar_t title[256] = {};
    GetWindowTextW(m_hWnd, title, 256);
    m_strProgramName = Narrow(title);

    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE))
    {
        const std::wstring about = LoadText(m_hInstance, IDS_ABOUTBOX);
        if (!about.empty())
        {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            // Greyed until the core, made below, has something to export;
            // WM_INITMENUPOPUP keeps it so.
            AddExportItem(menu, MF_STRING);
            // Checked and greyed as the core stands once it is made; so
            // is WM_INITMENUPOPUP.
            AddSoundItems(menu);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    DragAcceptFiles(m_hWnd, TRUE);

    // The lists' labels: the speeds translated, the frame rates as numbers.
    for (int n = 0; n < CTrellonCore::kSpeedCount; ++n)
        SendDlgItemMessageW(
            m_hWnd, IDC_SPEED, CB_ADDSTRING, 0,
            reinterpret_cast<LPARAM>(LoadText(m_hInstance, IDS_SPEED_FIRST + n).c_str()));
    for (int fps : CTrellonCore::kTargetFps)
        SendDlgItemMessageW(m_hWnd, IDC_TARGET_FPS, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(std::to_wstring(fps).c_str()));

    // The core talks to the controls from its construction on. The window
    // is shown before the core's initialisation, which may ask questions;
    // the core leaves the paints that come before it alone.
    m_pCore = std::make_unique<CTrellonCore>(*this, m_strJournalFolder, ExportThroughFfmpeg);
    ShowWindow(m_hWnd, SW_SHOW);
    m_pCore->OnInitDialog(m_strCommandLine);
    InvalidateVideo();
}

INT_PTR CMainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HSCROLL:
        // The trackbar has moved itself already.
        if (reinterpret_cast<HWND>(lParam) == Item(IDC_FRAME_SLIDER))
            m_pCore->OnHScroll();
        return TRUE;
    case WM_TIMER:
        if (wParam == kRecordTimer)
            m_pCore->OnTimer();
        else if (wParam == kPaintTimer)
        {
            KillTimer(m_hWnd, kPaintTimer);
            m_pCore->InvalidateVideo();
        }
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_SYSCOMMAND:
        return OnMenuCommand(static_cast<int>(wParam & 0xFFF0)) ? TRUE : FALSE;
    case WM_INITMENUPOPUP:
        // The system menu, as it opens.
        if (HIWORD(lParam) != 0)
        {
            HMENU menu = GetSystemMenu(m_hWnd, FALSE);
            EnableMenuItem(menu, IDM_EXPORT, MF_BYCOMMAND | EnabledState(m_pCore->CanExport()));
            UpdateSoundItems(menu);
        }
        return FALSE;
    case WM_CONTEXTMENU:
        OnContextMenu(lParam);
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_CLOSE:
        if (m_pCore->OnClose())
            DestroyWindow(m_hWnd);
        return TRUE;
    case WM_DESTROY:
        StopTimer();
        KillTimer(m_hWnd, kPaintTimer);
        PostQuitMessage(0);
        return TRUE;
    case WM_NCDESTROY:
        m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void CMainDialog::OnCommand(int id, int notification)
{
    if (id == IDC_SPEED)
    {
        if (notification == CBN_SELCHANGE)
            m_pCore->OnSpeedChange(GetListSelection(IDC_SPEED));
        return;
    }
    if (notification != BN_CLICKED)
        return;
    switch (id)
    {
    case IDC_GET_FRAME:
        m_pCore->OnGetFrame();
        break;
    case IDC_RECORD:
        m_pCore->OnRecord();
        break;
    case IDC_SAVE:
        m_pCore->OnSave();
        break;
    case IDC_LOAD:
        m_pCore->OnLoad();
        break;
    case IDC_CLEAR:
        m_pCore->OnClear();
        break;
    case IDC_VIDEO_INFO:
        m_pCore->OnVideoInfo();
        break;
    case IDC_PLAY:
        m_pCore->OnPlay();
        break;
    case IDC_PAUSE:
        m_pCore->OnPause();
        break;
    case IDC_SHOW_CURSOR:
        m_pCore->OnShowCursor();
        break;
    case IDC_DETACH:
        m_pCore->OnDetachVideo();
        break;
    case IDC_EXTRACT:
        m_pCore->OnExtract();
        break;
    default:
        // IDOK and IDCANCEL (Enter, Escape, the close box's cancel) do
        // nothing: closing goes through WM_CLOSE.
        break;
    }
}

void CMainDialog::OnDropFiles(HDROP drop)
{
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT n = 0; n < count; ++n)
    {
        const UINT length = DragQueryFileW(drop, n, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, n, path.data(), length + 1);
        path.resize(copied);
        if (!path.empty())
            paths.push_back(Narrow(path));
    }
    DragFinish(drop);
    if (!paths.empty())
        m_pCore->OnDropFiles(paths);
}

// ---------------------------------------------------------------------------
// The controls

void CMainDialog::SetItemText(int id, const std::string& text)
{
    const std::wstring wide = Widen(text);
    // An unchanged text is not set again: no flicker at every tick.
    wchar_t shown[512] = {};
    if (GetDlgItemTextW(m_hWnd, id, shown, 512) < 511 && wide == shown)
        return;
    SetDlgItemTextW(m_hWnd, id, wide.c_str());
}

void CMainDialog::EnableItem(int id, bool enabled)
{
    EnableWindow(Item(id), enabled ? TRUE : FALSE);
}

bool CMainDialog::IsItemChecked(int id) const
{
    return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED;
}

void CMainDialog::CheckItem(int id, bool checked)
{
    CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

int CMainDialog::GetListSelection(int id) const
{
    const LRESULT selected = SendDlgItemMessageW(m_hWnd, id, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void CMainDialog::SetListSelection(int id, int index)
{
    SendDlgItemMessageW(m_hWnd, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// The trackbar reports only what the person does to it; these moves are
// silent.
int CMainDialog::GetSliderPos() const
{
    return static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_FRAME_SLIDER, TBM_GETPOS, 0, 0));
}

int CMainDialog::GetSliderMax() const
{
    return static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_FRAME_SLIDER, TBM_GETRANGEMAX, 0, 0));
}

void CMainDialog::SetSliderPos(int position)
{
    SendDlgItemMessageW(m_hWnd, IDC_FRAME_SLIDER, TBM_SETPOS, TRUE, position);
}

void CMainDialog::SetSliderRange(int maximum)
{
    SendDlgItemMessageW(m_hWnd, IDC_FRAME_SLIDER, TBM_SETRANGEMIN, FALSE, 0);
    SendDlgItemMessageW(m_hWnd, IDC_FRAME_SLIDER, TBM_SETRANGEMAX, TRUE, maximum < 0 ? 0 : maximum);
}

std::string CMainDialog::ProgramName() const
{
    return m_strProgramName;
}

void CMainDialog::SetTitle(const std::string& title)
{
    const std::wstring wide = Widen(title);
    wchar_t shown[512] = {};
    if (GetWindowTextW(m_hWnd, shown, 512) < 511 && wide == shown)
        return;
    SetWindowTextW(m_hWnd, wide.c_str());
}

// ---------------------------------------------------------------------------
// The clock and the timers

bool CMainDialog::StartTimer(unsigned periodMs)
{
    // The system's timer ticks every 15.6 ms unless asked for better; the
    // recording's period needs every millisecond it can get.
    if (SetTimer(m_hWnd, kRecordTimer, periodMs, nullptr) == 0)
        return false;
    if (!m_bFineClock)
        m_bFineClock = timeBeginPeriod(1) == TIMERR_NOERROR;
    return true;
}

void CMainDialog::StopTimer()
{
    if (m_hWnd != nullptr)
        KillTimer(m_hWnd, kRecordTimer);
    if (m_bFineClock)
        timeEndPeriod(1);
    m_bFineClock = false;
}

std::int64_t CMainDialog::Counter()
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

std::int64_t CMainDialog::CounterFrequency()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

void CMainDialog::SchedulePaint(int delayMs)
{
    const UINT delay = delayMs < static_cast<int>(USER_TIMER_MINIMUM) ? USER_TIMER_MINIMUM
                                                                      : static_cast<UINT>(delayMs);
    SetTimer(m_hWnd, kPaintTimer, delay, nullptr);
}

void CMainDialog::CancelPaint()
{
    if (m_hWnd != nullptr)
        KillTimer(m_hWnd, kPaintTimer);
}
