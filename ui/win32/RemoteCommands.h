#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <functional>
#include <string>

// Commands to a TrellonHD that already runs, from `trellonhd --toggle-recording`
// and friends: one line ("toggle", "pause", "save PATH"), answered with one
// line, "ok" or the reason it could not be done.
//
// The running program keeps a hidden message-only window of a class of its
// own; the sender finds it, hands the command over in WM_COPYDATA (its own
// hidden window's handle in wParam) and gets the answer back the same way,
// while it waits in SendMessageTimeout. Both sides take only data that carries
// their tag and a sane length.

// Listens for commands on the calling thread, which must run a message loop;
// the handler runs there. Only the first TrellonHD of a session listens.
class CCommandListener
{
public:
    using Handler = std::function<std::string(const std::string& line)>;

    CCommandListener() = default;
    ~CCommandListener();
    CCommandListener(const CCommandListener&) = delete;
    CCommandListener& operator=(const CCommandListener&) = delete;

    // False when another TrellonHD listens already, or the window could not
    // be made.
    bool Listen(HINSTANCE instance, Handler handler);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    Handler m_handler;
};

// Sends `command` to the running TrellonHD and waits for its answer. 0 when it
// was done; 1, with `answer` saying why, when it was not or none runs.
int SendRemoteCommand(HINSTANCE instance, const std::string& command, std::string& answer);
