// trellonhd.exe: the options of the command line, the commands to a TrellonHD
// that already runs, and the main dialog.

#include "manager/VideoManager.h"
#include "ui/core/TrellonCore.h"
#include "ui/win32/MainDialog.h"
#include "ui/win32/RemoteCommands.h"
#include "ui/win32/Text.h"
#include "ui/win32/TrellonVersion.h"

// clang-format off
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <new>
#include <string>
#include <vector>

namespace
{
const std::string kUsage = kTrellonHdUsage;

// Writes to the standard output or error: the console the program was
// started from (a GUI program has none of its own), or a pipe or file.
void Write(DWORD which, const std::string& text)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
    {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return;
        handle = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode))
    {
        const std::wstring wide = Widen(text);
        WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
    else
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::vector<std::wstring> Arguments()
{
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (list == nullptr)
        return arguments;
    for (int n = 1; n < count; ++n)
        arguments.emplace_back(list[n]);
    LocalFree(list);
    return arguments;
}

// A path as the running TrellonHD, in another working directory, finds it.
std::wstring AbsolutePath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? path : full;
}

int RunApplication(HINSTANCE instance, const std::string& commandLine)
{
    ChooseResourceLanguage();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                       ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    CMainDialog dialog(instance, commandLine, CVideoManager::DefaultJournalFolder());
    if (!dialog.Create())
    {
        MessageBoxW(nullptr, L"The main window could not be created.", L"TrellonHD",
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    // Commands from other processes; a second TrellonHD leaves them to the first.
    CCommandListener listener;
    listener.Listen(instance, [&dialog](const std::string& line)
                    { return dialog.GetCore().RunCommand(line); });
    return dialog.Run();
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const std::vector<std::wstring> arguments = Arguments();
    for (const std::wstring& argument : arguments)
    {
        if (argument == L"--help" || argument == L"-h")
        {
            Write(STD_OUTPUT_HANDLE, kUsage);
            return 0;
        }
        if (argument == L"--version" || argument == L"-v")
        {
            Write(STD_OUTPUT_HANDLE, std::string("trellonhd ") + TRELLON_VERSION + "\n");
            return 0;
        }
    }

    for (std::size_t n = 0; n < arguments.size(); ++n)
    {
        std::string command;
        if (arguments[n] == L"--toggle-recording")
            command = "toggle";
        else if (arguments[n] == L"--pause-recording")
            command = "pause";
        else if (arguments[n] == L"--save")
        {
            if (n + 1 >= arguments.size() || arguments[n + 1].empty())
            {
                Write(STD_ERROR_HANDLE, std::string("trellonhd: --save needs a PATH\n") + kUsage);
                return 2;
            }
            command = "save " + Narrow(AbsolutePath(arguments[n + 1]));
        }
        else
            continue;
        std::string answer;
        const int status = SendRemoteCommand(instance, command, answer);
        if (status != 0)
            Write(STD_ERROR_HANDLE, "trellonhd: " + answer + "\n");
        return status;
    }

    // What follows the options is one command line, as the platform's is.
    std::string commandLine;
    for (const std::wstring& argument : arguments)
    {
        if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0)
        {
            Write(STD_ERROR_HANDLE,
                  "trellonhd: unknown option " + Narrow(argument) + "\n" + kUsage);
            return 2;
        }
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += Narrow(argument);
    }

    try
    {
        return RunApplication(instance, commandLine);
    }
    catch (const std::bad_alloc&)
    {
        // An allocation outside the recording's own checks (those stop the
        // recording and keep its frames): a message instead of an abort.
        Write(STD_ERROR_HANDLE, "trellonhd: out of memory\n");
        MessageBoxW(nullptr, L"Out of memory.", L"TrellonHD", MB_OK | MB_ICONERROR);
        return 1;
    }
}
