// win32app_probe: looks at a running trellonhd.exe from the outside, as the
// window test's eyes. Prints what it finds, one line, UTF-8:
//   wait SECONDS        the main dialog appears (its handle), or exit 1
//   gone SECONDS        no main dialog is left, or exit 1
//   text ID             a control's text (0: the window's caption)
//   enabled ID          1 or 0
//   checked ID          a check box's state: 1 or 0
//   center ID           the screen position of a control's centre: "X Y"
//   window TITLE SECONDS a top-level window of this process's session with
//                       that caption appears: its centre "X Y", or exit 1
//   client TITLE SECONDS the client area's size of such a window: "W H"
//   item TITLE ID SECONDS the screen position of the centre of control ID
//                       of such a window: "X Y"
//   controls TITLE SECONDS one line per control of such a window, in their
//                       order: "ID<TAB>TEXT", and a list's items after
//                       further tabs
//   menu SECONDS        an open pop-up menu appears: its screen rectangle
//                       "LEFT TOP RIGHT BOTTOM"
//   close               asks the main dialog to close (WM_CLOSE)
//   about               chooses the About item of its system menu
//   sysmenu             opens its system menu, as Alt+Space does
// Exit 0 when it found what was asked, 1 when not, 2 for a wrong call.

// clang-format off
#include <windows.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
constexpr wchar_t kMainClass[] = L"TrellonHD.Main";

HWND MainWindow()
{
    return FindWindowW(kMainClass, nullptr);
}

void PrintUtf8(const std::wstring& text)
{
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(),
                        needed, nullptr, nullptr);
    std::fwrite(narrow.data(), 1, narrow.size(), stdout);
    std::fputc('\n', stdout);
}

HWND Control(const wchar_t* id)
{
    const HWND main = MainWindow();
    const int number = static_cast<int>(std::wcstol(id, nullptr, 10));
    if (main == nullptr)
        return nullptr;
    return number == 0 ? main : GetDlgItem(main, number);
}

bool PrintCentre(HWND window)
{
    RECT rect{};
    if (window == nullptr || !GetWindowRect(window, &rect))
        return false;
    std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    return true;
}

// Another process's window's text: it comes by message (GetWindowText
// would give a control's caption only).
bool TextOf(HWND window, std::wstring& text)
{
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return false;
    text.assign(buffer, copied < 1024 ? copied : 1023);
    return true;
}

// A drop-down list's items, each after a tab.
std::wstring ListItems(HWND list)
{
    std::wstring items;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count) ||
        static_cast<LRESULT>(count) == CB_ERR)
        return items;
    for (WPARAM n = 0; n < count; ++n)
    {
        wchar_t item[1024] = {};
        DWORD_PTR length = 0;
        if (SendMessageTimeoutW(list, CB_GETLBTEXTLEN, n, 0, SMTO_ABORTIFHUNG, 5000, &length) &&
            length < 1024 &&
            SendMessageTimeoutW(list, CB_GETLBTEXT, n, reinterpret_cast<LPARAM>(item),
                                SMTO_ABORTIFHUNG, 5000, &length))
            items += L'\t' + std::wstring(item, length < 1024 ? length : 1023);
    }
    return items;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    std::wstring text;
    TextOf(control, text);
    wchar_t name[64] = {};
    GetClassNameW(control, name, 64);
    if (lstrcmpiW(name, L"ComboBox") == 0)
        text += ListItems(control);
    PrintUtf8(std::to_wstring(GetDlgCtrlID(control)) + L'\t' + text);
    return TRUE;
}

// Waits up to `seconds` for `find` to give a window.
template <typename Find> HWND WaitFor(double seconds, Find find)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;)
    {
        if (HWND window = find(); window != nullptr && IsWindowVisible(window))
            return window;
        if (GetTickCount64() >= end)
            return nullptr;
        Sleep(50);
    }
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring command = argv[1];
    if (command == L"wait" && argc == 3)
    {
        const HWND main = WaitFor(std::wcstod(argv[2], nullptr), MainWindow);
        if (main == nullptr)
            return 1;
        std::printf("%p\n", static_cast<void*>(main));
        return 0;
    }
    if (command == L"gone" && argc == 3)
    {
        const ULONGLONG end =
            GetTickCount64() + static_cast<ULONGLONG>(std::wcstod(argv[2], nullptr) * 1000);
        while (MainWindow() != nullptr)
        {
            if (GetTickCount64() >= end)
                return 1;
            Sleep(50);
        }
        return 0;
    }
    if (command == L"text" && argc == 3)
    {
        const HWND control = Control(argv[2]);
        std::wstring text;
        if (control == nullptr || !TextOf(control, text))
            return 1;
        PrintUtf8(text);
        return 0;
    }
    if (command == L"enabled" && argc == 3)
    {
        const HWND control = Control(argv[2]);
        if (control == nullptr)
            return 1;
        std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
        return 0;
    }
    if (command == L"checked" && argc == 3)
    {
        const HWND control = Control(argv[2]);
        if (control == nullptr)
            return 1;
        std::printf("%d\n", SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        return 0;
    }
    if (command == L"center" && argc == 3)
        return PrintCentre(Control(argv[2])) ? 0 : 1;
    if (command == L"window" && argc == 4)
    {
        const std::wstring title = argv[2];
        const HWND window = WaitFor(std::wcstod(argv[3], nullptr),
                                    [&title] { return FindWindowW(nullptr, title.c_str()); });
        return PrintCentre(window) ? 0 : 1;
    }
    if (command == L"client" && argc == 4)
    {
        const std::wstring title = argv[2];
        const HWND window = WaitFor(std::wcstod(argv[3], nullptr),
                                    [&title] { return FindWindowW(nullptr, title.c_str()); });
        RECT client{};
        if (window == nullptr || !GetClientRect(window, &client))
            return 1;
        std::printf("%ld %ld\n", client.right, client.bottom);
        return 0;
    }
    if ((command == L"item" && argc == 5) || (command == L"controls" && argc == 4))
    {
        const std::wstring title = argv[2];
        const HWND window = WaitFor(std::wcstod(argv[argc - 1], nullptr),
                                    [&title] { return FindWindowW(nullptr, title.c_str()); });
        if (window == nullptr)
            return 1;
        if (command == L"item")
            return PrintCentre(
                       GetDlgItem(window, static_cast<int>(std::wcstol(argv[3], nullptr, 10))))
                       ? 0
                       : 1;
        EnumChildWindows(window, PrintControl, 0);
        return 0;
    }
    if (command == L"menu" && argc == 3)
    {
        // The system's class of pop-up menus.
        const HWND menu =
            WaitFor(std::wcstod(argv[2], nullptr), [] { return FindWindowW(L"#32768", nullptr); });
        RECT rect{};
        if (menu == nullptr || !GetWindowRect(menu, &rect))
            return 1;
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == L"close" && argc == 2)
    {
        const HWND main = MainWindow();
        return main != nullptr && PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (command == L"about" && argc == 2)
    {
        const HWND main = MainWindow();
        return main != nullptr && PostMessageW(main, WM_SYSCOMMAND, 16, 0) ? 0 : 1;
    }
    if (command == L"sysmenu" && argc == 2)
    {
        const HWND main = MainWindow();
        return main != nullptr && PostMessageW(main, WM_SYSCOMMAND, SC_KEYMENU, L' ') ? 0 : 1;
    }
    return 2;
}
