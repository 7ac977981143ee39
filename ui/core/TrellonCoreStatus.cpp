// The main dialog's live status in its title (and with it the taskbar
// entry): while the game is in front the video area stays still, so the
// title is what tells the person that the recording runs, for how long, how
// many frames it holds and how many ticks the machine could not keep up
// with. It costs no painting of frames and is refreshed a few times a second.

#include "manager/VideoManager.h"
#include "ui/core/TrellonCore.h"
#include "video/FileAccess.h"
#include "video/Video.h"

#include <cstdio>

namespace
{
// Title refreshes while recording, at most this many a second.
constexpr int kTitleRefreshesPerSecond = 4;

std::string Clock(double seconds)
{
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

// A count as English writes it: 12,345.
std::string Grouped(long long number)
{
    std::string digits = std::to_string(number < 0 ? -number : number);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return number < 0 ? "-" + digits : digits;
}
} // namespace

void CTrellonCore::UpdateTitle(bool now)
{
    // Most ticks come between two refreshes: they return before anything
    // is formatted.
    if (m_bRecording)
    {
        const std::int64_t counter = m_window.Counter();
        if (!now && counter - m_lastTitleCounter < m_frequency / kTitleRefreshesPerSecond)
            return;
        m_lastTitleCounter = counter;
    }
    // What changes comes first and the program's name last, once, as
    // title bars and taskbars on both platforms expect: a cut-off entry
    // still shows the status, and entries of one program line up at the end.
    const CVideo& video = m_pManager->GetVideo();
    std::string status;
    if (m_bRecording)
    {
        const int frames = video.GetFrameCount();
        const double elapsed = frames > 0 ? static_cast<double>(video.GetFrameTime(frames - 1)) : 0;
        status = m_bPaused ? "\u275A\u275A PAUSED " : "\u25CF REC ";
        status += Clock(elapsed) + " \u00B7 " + Grouped(frames) +
                  (frames == 1 ? " frame" : " frames") + " \u00B7 " + Grouped(m_nDroppedTicks) +
                  " dropped \u00B7 " + CVideoManager::SoundStatusText(m_pManager->GetSoundState(), m_bRecordSound);
    }
    else if (!m_strFileName.empty() || video.GetFrameCount() > 0)
    {
        const std::string name = m_strFileName.empty()
                                     ? std::string("unsaved recording")
                                     : Utf8Text(Utf8Path(m_strFileName).filename());
        status = name + (video.IsSaved() ? "" : " *");
    }
    const std::string program = m_window.ProgramName();
    m_window.SetTitle(status.empty() ? program : status + " \u2014 " + program);
}
