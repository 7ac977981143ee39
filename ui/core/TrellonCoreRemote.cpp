// Commands from other processes (trellonhd --toggle-recording,
// --pause-recording, --save PATH) and the global hotkeys (Ctrl+Alt+R,
// Ctrl+Alt+P), so that a recording is driven while the game has the focus;
// and the pause itself.

#include "manager/VideoManager.h"
#include "desktop/Hotkeys.h"
#include "ui/core/TrellonCore.h"
#include "video/Video.h"

const char kTrellonHdUsage[] =
    "Usage: trellonhd [VIDEO.dk2]\n"
    "Records the screen of the running game Warcraft II and plays recordings back.\n"
    "A video named on the command line is loaded at once.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "To the TrellonHD that already runs (for a key of the desktop, or a script):\n"
    "  --toggle-recording   start or stop recording\n"
    "  --pause-recording    pause or resume the recording\n"
    "  --save PATH          stop recording if need be and save the video to PATH\n";

std::string CTrellonCore::RunCommand(const std::string& line)
{
    // Whoever sent it waits for the answer, and is not at the window: no
    // notice may hold it up.
    const bool wasRemote = m_bRemoteCommand;
    m_bRemoteCommand = true;
    std::string answer = RunCommandLine(line);
    m_bRemoteCommand = wasRemote;
    return answer;
}

std::string CTrellonCore::RunCommandLine(const std::string& line)
{
    if (line == "toggle")
    {
        if (!m_bRecording && !m_pManager->GetVideo().IsAppendable())
            return "the recording has ended; Clear starts a new one";
        OnRecord();
        return "ok";
    }
    if (line == "pause")
    {
        if (!m_bRecording)
            return "not recording";
        OnPauseRecording();
        return "ok";
    }
    if (line.rfind("save ", 0) == 0)
    {
        if (m_bRecording)
            OnRecord(); // a recording is saved whole: it ends first
        const std::string path = line.substr(5);
        std::string reason;
        if (!SaveTo(path, reason))
            return "Error writing to " + path + ": " + reason;
        return "ok";
    }
    return "unknown command: " + line;
}

void CTrellonCore::OnPauseRecording()
{
    if (!m_bRecording)
        return;
    m_bPaused = !m_bPaused;
    if (m_bPaused)
    {
        m_window.StopTimer();
        m_pManager->PauseRecording();
    }
    else
    {
        // The first frame after the pause comes one period after the last
        // one before it: the paused time is not in the recording.
        m_pManager->ResumeRecording(static_cast<double>(m_nTimerPeriodMs) / 1000.0);
        m_lastTickCounter = m_window.Counter();
        m_window.StartTimer(m_nTimerPeriodMs);
    }
    UpdateTitle();
}

void CTrellonCore::ReportTakenHotkeys(const std::vector<int>& taken)
{
    if (taken.empty())
        return;
    std::string names;
    for (int hotkey : taken)
        names += (names.empty() ? "" : ", ") + std::string(PlatformHotkeyName(hotkey));
    m_window.Message("TrellonHD",
                     names + " can't be used: another program holds it.\n"
                             "trellonhd --toggle-recording and --pause-recording still work; "
                             "bind them to keys of your desktop instead.",
                     MsgButtons::Ok, MsgIcon::Information);
}

void CTrellonCore::OnHotkey(int hotkey)
{
    if (hotkey == HK_TOGGLE_RECORDING)
        RunCommand("toggle");
    else if (hotkey == HK_PAUSE_RECORDING)
        RunCommand("pause");
}
