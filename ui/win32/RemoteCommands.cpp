#include "ui/win32/RemoteCommands.h"

#include <cstring>

namespace
{
constexpr wchar_t kListenerClass[] = L"TrellonHD.Commands";
constexpr wchar_t kAnswerClass[] = L"TrellonHD.Answer";
// Tags of a command and of an answer in COPYDATASTRUCT::dwData.
constexpr ULONG_PTR kCommandTag = 0x54484443; // "THDC"
constexpr ULONG_PTR kAnswerTag = 0x54484441;  // "THDA"
// A command is a word and a path; an answer a sentence and a path.
constexpr DWORD kMaxLineBytes = 64 * 1024;
// Saving a long recording takes a while.
constexpr UINT kCommandTimeoutMs = 120000;
constexpr UINT kAnswerTimeoutMs = 10000;

// The line a COPYDATASTRUCT carries, when it carries `tag` and a sane line.
bool TakeLine(LPARAM lParam, ULONG_PTR tag, std::string& line)
{
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data == nullptr || data->dwData != tag || data->cbData > kMaxLineBytes ||
        (data->cbData > 0 && data->lpData == nullptr))
        return false;
    line.assign(static_cast<const char*>(data->lpData), data->cbData);
    return line.find('\0') == std::string::npos;
}

LRESULT SendLine(HWND to, HWND from, ULONG_PTR tag, const std::string& line, UINT timeoutMs,
                 bool& delivered)
{
    COPYDATASTRUCT data{};
    data.dwData = tag;
    data.cbData = static_cast<DWORD>(line.size());
    data.lpData = const_cast<char*>(line.data());
    DWORD_PTR result = 0;
    delivered =
        SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                            reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, timeoutMs, &result) != 0;
    return static_cast<LRESULT>(result);
}

bool RegisterMessageClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

LRESULT CALLBACK AnswerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
    {
        auto* answer = reinterpret_cast<std::string*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        std::string line;
        if (answer == nullptr || !TakeLine(lParam, kAnswerTag, line))
            return FALSE;
        *answer = std::move(line);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
} // namespace

CCommandListener::~CCommandListener()
{
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
}

bool CCommandListener::Listen(HINSTANCE instance, Handler handler)
{
    if (FindWindowExW(HWND_MESSAGE, nullptr, kListenerClass, nullptr) != nullptr)
        return false;
    if (!RegisterMessageClass(instance, kListenerClass, WindowProc))
        return false;
    m_handler = std::move(handler);
    m_hWnd = CreateWindowExW(0, kListenerClass, L"TrellonHD", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
    if (m_hWnd == nullptr)
        return false;
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
}

LRESULT CALLBACK CCommandListener::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* self = reinterpret_cast<CCommandListener*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    std::string line;
    if (self == nullptr || !self->m_handler || !TakeLine(lParam, kCommandTag, line))
        return FALSE;
    // The answer goes to the sender's window, which must be a window.
    const HWND sender = reinterpret_cast<HWND>(wParam);
    if (sender == nullptr || !IsWindow(sender))
        return FALSE;
    const std::string answer = self->m_handler(line);
    bool delivered = false;
    SendLine(sender, window, kAnswerTag, answer, kAnswerTimeoutMs, delivered);
    return delivered ? TRUE : FALSE;
}

int SendRemoteCommand(HINSTANCE instance, const std::string& command, std::string& answer)
{
    answer.clear();
    const HWND listener = FindWindowExW(HWND_MESSAGE, nullptr, kListenerClass, nullptr);
    if (listener == nullptr)
    {
        answer = "no TrellonHD is running";
        return 1;
    }
    if (command.size() > kMaxLineBytes)
    {
        answer = "the command is too long";
        return 1;
    }
    if (!RegisterMessageClass(instance, kAnswerClass, AnswerProc))
    {
        answer = "can't make a window for the answer";
        return 1;
    }
    const HWND own = CreateWindowExW(0, kAnswerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     instance, nullptr);
    if (own == nullptr)
    {
        answer = "can't make a window for the answer";
        return 1;
    }
    std::string received;
    SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
    bool delivered = false;
    const LRESULT handled =
        SendLine(listener, own, kCommandTag, command, kCommandTimeoutMs, delivered);
    SetWindowLongPtrW(own, GWLP_USERDATA, 0);
    DestroyWindow(own);
    if (!delivered)
    {
        answer = "TrellonHD did not answer";
        return 1;
    }
    if (!handled || received.empty())
    {
        answer = "TrellonHD refused the command";
        return 1;
    }
    answer = received;
    return answer == "ok" ? 0 : 1;
}
