// The main dialog's live status in its title (and with it the taskbar
// entry): while the game is in front the video area stays still, so the
// title is what tells the person that the recording runs, for how long, how
// many frames it holds and how many ticks the machine could not keep up
// with. It costs no painting of frames and is refreshed a few times a second.

#include "TrellonDlg.h"
#include "Video.h"
#include "VideoManager.h"

#include <QFileInfo>
#include <QLocale>

namespace
{
// Title refreshes while recording, at most this many a second.
constexpr int kTitleRefreshesPerSecond = 4;

QString Clock(double seconds)
{
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    return QString::asprintf("%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
}
} // namespace

void CTrellonDlg::UpdateTitle(bool now)
{
    // Most ticks come between two refreshes: they return before anything
    // is formatted.
    if (m_bRecording)
    {
        const std::int64_t counter = m_services.counter();
        if (!now && counter - m_lastTitleCounter < m_frequency / kTitleRefreshesPerSecond)
            return;
        m_lastTitleCounter = counter;
    }
    const CVideo& video = m_pManager->GetVideo();
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QString dash = QStringLiteral(" \u2014 ");
    QString title = m_strTitle;
    if (m_bRecording)
    {
        const int frames = video.GetFrameCount();
        const double elapsed = frames > 0 ? static_cast<double>(video.GetFrameTime(frames - 1)) : 0;
        title +=
            dash +
            (m_bPaused ? QStringLiteral("\u275A\u275A PAUSED ") : QStringLiteral("\u25CF REC ")) +
            Clock(elapsed) + QStringLiteral(" \u00B7 ") + english.toString(frames) +
            (frames == 1 ? QStringLiteral(" frame") : QStringLiteral(" frames")) +
            QStringLiteral(" \u00B7 ") + english.toString(static_cast<qlonglong>(m_nDroppedTicks)) +
            QStringLiteral(" dropped");
    }
    else if (!m_strFileName.isEmpty() || video.GetFrameCount() > 0)
    {
        const QString name = m_strFileName.isEmpty() ? QStringLiteral("unsaved recording")
                                                     : QFileInfo(m_strFileName).fileName();
        title += dash + name + (video.IsSaved() ? QString() : QStringLiteral(" *"));
    }
    if (windowTitle() != title)
        setWindowTitle(title);
}

void CTrellonDlg::OnViewClosed()
{
    InvalidateVideo();
}
