// What the main dialog asks the person: message boxes, the file choosers, the
// fragment and export dialogs, the About box and the progress of a long
// command.

#include "export/VideoExport.h"
#include "ui/core/TrellonCore.h"
#include "ui/win32/MainDialog.h"
#include "ui/win32/ResourceIds.h"
#include "ui/win32/Text.h"

// clang-format off
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>
#include <vector>

namespace
{
// Long enough for any path the system takes.
constexpr DWORD kPathChars = 32768;

// An integer typed into an edit box, as the dialog framework's integer
// exchange takes it: optional blanks around an optional sign and digits.
bool ReadInteger(HWND edit, int& value)
{
    const int length = GetWindowTextLengthW(edit);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(edit, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const long number = std::wcstol(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    while (std::iswspace(static_cast<wint_t>(*end)))
        ++end;
    if (*end != L'\0')
        return false;
    value = static_cast<int>(number);
    return true;
}

// A small dialog opens over the middle of the window that owns it.
void CentreOnOwner(HWND dialog)
{
    const HWND owner = GetWindow(dialog, GW_OWNER);
    RECT outer{}, inner{};
    if (owner == nullptr || IsIconic(owner) || !GetWindowRect(owner, &outer) ||
        !GetWindowRect(dialog, &inner))
        return;
    const int width = inner.right - inner.left, height = inner.bottom - inner.top;
    SetWindowPos(dialog, nullptr, outer.left + ((outer.right - outer.left) - width) / 2,
                 outer.top + ((outer.bottom - outer.top) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

struct FragmentState
{
    int first = 0;
    int last = 0;
};

INT_PTR CALLBACK FragmentProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
    {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        CentreOnOwner(dialog);
        const auto* state = reinterpret_cast<const FragmentState*>(lParam);
        SetDlgItemInt(dialog, IDC_START_FRAME, static_cast<UINT>(state->first), TRUE);
        SetDlgItemInt(dialog, IDC_END_FRAME, static_cast<UINT>(state->last), TRUE);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
        {
            auto* state = reinterpret_cast<FragmentState*>(GetWindowLongPtrW(dialog, DWLP_USER));
            // The end frame first, then the start frame; a field that holds
            // no integer keeps the dialog open with the prompt and the
            // field's text selected.
            FragmentState typed;
            for (const auto& [id, value] : {std::pair<int, int*>{IDC_END_FRAME, &typed.last},
                                            {IDC_START_FRAME, &typed.first}})
            {
                const HWND edit = GetDlgItem(dialog, id);
                if (!ReadInteger(edit, *value))
                {
                    MessageBoxW(dialog, L"Please enter an integer.", L"TrellonHD",
                                MB_OK | MB_ICONEXCLAMATION);
                    SetFocus(edit);
                    SendMessageW(edit, EM_SETSEL, 0, -1);
                    return TRUE;
                }
            }
            *state = typed;
            EndDialog(dialog, IDOK);
        }
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

// The export dialog's choice while it is open, and the numbers' upper
// bounds (each number is at least 1).
struct ExportState
{
    HINSTANCE instance = nullptr;
    int frames = 1;
    ExportChoice choice;
};

constexpr int kExportNumbers[] = {IDC_EXPORT_FIRST, IDC_EXPORT_LAST, IDC_EXPORT_SCALE};

bool IsExportNumber(int id)
{
    return std::find(std::begin(kExportNumbers), std::end(kExportNumbers), id) !=
           std::end(kExportNumbers);
}

int& ExportNumber(ExportState& state, int id)
{
    return id == IDC_EXPORT_FIRST  ? state.choice.first
           : id == IDC_EXPORT_LAST ? state.choice.last
                                   : state.choice.scale;
}

int ExportMaximum(const ExportState& state, int id)
{
    return id == IDC_EXPORT_SCALE ? kMaxExportScale : state.frames;
}

void ShowExportNumbers(HWND dialog, ExportState& state)
{
    for (int id : kExportNumbers)
    {
        BOOL read = FALSE;
        const int value = ExportNumber(state, id);
        if (static_cast<int>(GetDlgItemInt(dialog, id, &read, TRUE)) != value || !read)
            SetDlgItemInt(dialog, id, static_cast<UINT>(value), TRUE);
    }
}

// Takes the number a field holds once the person is done with it (leaving
// it, an up-down step, OK): within its range, or the field's earlier value
// when it holds none. Typing is left alone until then, so that "12" can be
// typed where the bound is 9 on the way to "120". The range stays in order
// whichever end moved, as in the Qt dialog: the other end follows.
void SettleExportNumber(HWND dialog, ExportState& state, int id)
{
    int& value = ExportNumber(state, id);
    int typed = 0;
    if (ReadInteger(GetDlgItem(dialog, id), typed))
        value = std::clamp(typed, 1, ExportMaximum(state, id));
    if (id == IDC_EXPORT_FIRST)
        state.choice.last = std::max(state.choice.last, value);
    else if (id == IDC_EXPORT_LAST)
        state.choice.first = std::min(state.choice.first, value);
    ShowExportNumbers(dialog, state);
}

void InitExportDialog(HWND dialog, ExportState& state)
{
    CentreOnOwner(dialog);
    for (int n = 0; n < CTrellonCore::kExportFormatCount; ++n)
        SendDlgItemMessageW(dialog, IDC_EXPORT_FORMAT, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(
                                LoadText(state.instance, IDS_EXPORT_FORMAT_FIRST + n).c_str()));
    SendDlgItemMessageW(dialog, IDC_EXPORT_FORMAT, CB_SETCURSEL,
                        static_cast<WPARAM>(state.choice.format), 0);
    for (int id : kExportNumbers)
        SendDlgItemMessageW(dialog, id + 1 /* its up-down */, UDM_SETRANGE32, 1,
                            ExportMaximum(state, id));
    ShowExportNumbers(dialog, state);
}

INT_PTR CALLBACK ExportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        InitExportDialog(dialog, *reinterpret_cast<ExportState*>(lParam));
        return TRUE;
    }
    auto* state = reinterpret_cast<ExportState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (state == nullptr)
        return FALSE;
    if (message == WM_VSCROLL && LOWORD(wParam) == SB_THUMBPOSITION && lParam != 0)
    {
        // An up-down step has set its field's text.
        const int field = GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) - 1;
        if (IsExportNumber(field))
            SettleExportNumber(dialog, *state, field);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int id = LOWORD(wParam);
    if (HIWORD(wParam) == EN_KILLFOCUS && IsExportNumber(id))
        SettleExportNumber(dialog, *state, id);
    else if (id == IDOK)
    {
        // Enter leaves the field it was typed in without its losing the
        // focus.
        const int focused = GetDlgCtrlID(GetFocus());
        if (IsExportNumber(focused))
            SettleExportNumber(dialog, *state, focused);
        const LRESULT format = SendDlgItemMessageW(dialog, IDC_EXPORT_FORMAT, CB_GETCURSEL, 0, 0);
        state->choice.format = format == CB_ERR ? 0 : static_cast<int>(format);
        EndDialog(dialog, IDOK);
    }
    else if (id == IDCANCEL)
        EndDialog(dialog, IDCANCEL);
    return TRUE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
    {
        CentreOnOwner(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
    {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// The platform's file chooser with `filter` (pairs of label and pattern,
// each ended by a zero) and `extension` added to a name typed without one.
std::string ChooseFile(HWND owner, bool forSaving, const std::wstring& filter,
                       const std::wstring& extension)
{
    std::vector<wchar_t> path(kPathChars, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = kPathChars;
    dialog.lpstrDefExt = extension.c_str();
    // The working directory stays where it was: the sheets are looked for
    // there.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (forSaving)
        dialog.Flags |= OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    const BOOL chosen = forSaving ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    return chosen ? Narrow(path.data(), wcsnlen(path.data(), kPathChars)) : std::string();
}
} // namespace

// The progress of a long command: a small window with a bar and Cancel,
// shown once the command takes more than half a second, while the main
// dialog is disabled as under a modal dialog. Report pumps the thread's
// messages, so that the windows stay alive; the main dialog's paints leave
// the video alone meanwhile (the core holds the recording timer's guard).
class CLongTaskWindow final : public ILongTaskView
{
public:
    CLongTaskWindow(CMainDialog& owner, HINSTANCE instance, const std::string& text)
        : m_owner(owner)
    {
        ++m_owner.m_nLongTasks;
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        m_start = now.QuadPart;
        if (const DLGTEMPLATE* dialog = FindDialogTemplate(instance, IDD_LONG_TASK))
            m_hDlg = CreateDialogIndirectParamW(instance, dialog, owner.GetHwnd(), Proc,
                                                reinterpret_cast<LPARAM>(this));
        if (m_hDlg != nullptr)
        {
            SetDlgItemTextW(m_hDlg, IDC_LONG_TASK_TEXT, Widen(text).c_str());
            SendDlgItemMessageW(m_hDlg, IDC_LONG_TASK_PROGRESS, PBM_SETRANGE32, 0, 100);
        }
        EnableWindow(owner.GetHwnd(), FALSE);
    }
    ~CLongTaskWindow() override
    {
        // The owner first, so that it takes the activation back.
        EnableWindow(m_owner.GetHwnd(), TRUE);
        if (m_hDlg != nullptr)
            DestroyWindow(m_hDlg);
        --m_owner.m_nLongTasks;
    }
    CLongTaskWindow(const CLongTaskWindow&) = delete;
    CLongTaskWindow& operator=(const CLongTaskWindow&) = delete;

    bool Report(int done, int total) override
    {
        if (m_hDlg != nullptr)
        {
            if (total > 0)
                SendDlgItemMessageW(m_hDlg, IDC_LONG_TASK_PROGRESS, PBM_SETPOS,
                                    static_cast<WPARAM>(static_cast<long long>(done) * 100 / total),
                                    0);
            if (!IsWindowVisible(m_hDlg))
            {
                LARGE_INTEGER now{}, frequency{};
                QueryPerformanceCounter(&now);
                QueryPerformanceFrequency(&frequency);
                if ((now.QuadPart - m_start) * 2 >= frequency.QuadPart)
                    ShowWindow(m_hDlg, SW_SHOW);
            }
        }
        MSG message{};
        while (!m_bCancelled && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            if (message.message == WM_QUIT)
            {
                PostQuitMessage(static_cast<int>(message.wParam)); // for the main loop
                m_bCancelled = true;
                break;
            }
            if (m_hDlg != nullptr && IsDialogMessageW(m_hDlg, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return !m_bCancelled;
    }
    bool Cancelled() const override { return m_bCancelled; }

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG)
        {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            CentreOnOwner(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<CLongTaskWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (self != nullptr &&
            ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE))
        {
            self->m_bCancelled = true;
            return TRUE;
        }
        return FALSE;
    }

    CMainDialog& m_owner;
    HWND m_hDlg = nullptr;
    std::int64_t m_start = 0;
    bool m_bCancelled = false;
};

MsgAnswer CMainDialog::Message(const std::string& caption, const std::string& text,
                               MsgButtons buttons, MsgIcon icon, bool owned)
{
    UINT type = MB_OK;
    if (buttons == MsgButtons::OkCancel)
        type = MB_OKCANCEL;
    else if (buttons == MsgButtons::YesNo)
        type = MB_YESNO;
    if (icon == MsgIcon::Information)
        type |= MB_ICONINFORMATION;
    else if (icon == MsgIcon::Question)
        type |= MB_ICONQUESTION;
    else if (icon == MsgIcon::Warning)
        type |= MB_ICONWARNING;
    switch (
        MessageBoxW(owned ? m_hWnd : nullptr, Widen(text).c_str(), Widen(caption).c_str(), type))
    {
    case IDOK:
        return MsgAnswer::Ok;
    case IDYES:
        return MsgAnswer::Yes;
    case IDNO:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Cancel;
    }
}

std::string CMainDialog::ChooseVideoFile(bool forSaving)
{
    static const wchar_t kFilter[] = L"Trellon Files (*.dk2)\0*.dk2\0All Files (*.*)\0*.*\0";
    return ChooseFile(m_hWnd, forSaving, std::wstring(kFilter, sizeof kFilter / sizeof *kFilter),
                      L"dk2");
}

std::string CMainDialog::ChooseExportFile(const std::string& extension)
{
    const std::wstring wide = Widen(extension);
    std::wstring filter = L"*." + wide;
    filter.push_back(L'\0');
    filter += L"*." + wide;
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    return ChooseFile(m_hWnd, true, filter, wide);
}

bool CMainDialog::AskFragment(int& first, int& last)
{
    const DLGTEMPLATE* dialog = FindDialogTemplate(m_hInstance, IDD_EXTRACT);
    if (dialog == nullptr)
        return false;
    FragmentState state{first, last};
    if (DialogBoxIndirectParamW(m_hInstance, dialog, m_hWnd, FragmentProc,
                                reinterpret_cast<LPARAM>(&state)) != IDOK)
        return false;
    first = state.first;
    last = state.last;
    return true;
}

bool CMainDialog::AskExport(int frames, ExportChoice& choice)
{
    const DLGTEMPLATE* dialog = FindDialogTemplate(m_hInstance, IDD_EXPORT);
    if (dialog == nullptr)
        return false;
    ExportState state{m_hInstance, std::max(frames, 1), choice};
    state.choice.format = std::clamp(choice.format, 0, CTrellonCore::kExportFormatCount - 1);
    state.choice.first = std::clamp(choice.first, 1, state.frames);
    state.choice.last = std::clamp(choice.last, state.choice.first, state.frames);
    state.choice.scale = std::clamp(choice.scale, 1, kMaxExportScale);
    if (DialogBoxIndirectParamW(m_hInstance, dialog, m_hWnd, ExportProc,
                                reinterpret_cast<LPARAM>(&state)) != IDOK)
        return false;
    choice = state.choice;
    return true;
}

void CMainDialog::ShowAbout()
{
    if (const DLGTEMPLATE* dialog = FindDialogTemplate(m_hInstance, IDD_ABOUTBOX))
        DialogBoxIndirectParamW(m_hInstance, dialog, m_hWnd, AboutProc, 0);
}

std::unique_ptr<ILongTaskView> CMainDialog::BeginLongTask(const std::string& text)
{
    return std::make_unique<CLongTaskWindow>(*this, m_hInstance, text);
}
