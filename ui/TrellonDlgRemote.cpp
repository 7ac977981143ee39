// Commands from other processes (trellonhd --toggle-recording,
// --pause-recording, --save PATH) and the global hotkeys (Ctrl+Alt+R,
// Ctrl+Alt+P), so that a recording is driven while the game has the focus;
// and the pause itself.

#include "Hotkeys.h"
#include "TrellonDlg.h"
#include "Video.h"
#include "VideoManager.h"

#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

bool CTrellonDlg::ListenForCommands(const QString& name)
{
    auto* server = new QLocalServer(this);
    // A socket left by a TrellonHD that crashed is taken over; one that
    // answers belongs to a TrellonHD that runs, and is left alone.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(200))
        return false;
    QLocalServer::removeServer(name);
    if (!server->listen(name))
        return false;
    connect(server, &QLocalServer::newConnection, this,
            [this, server]
            {
                while (QLocalSocket* client = server->nextPendingConnection())
                {
                    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
                    connect(client, &QLocalSocket::readyRead, this,
                            [this, client]
                            {
                                if (!client->canReadLine())
                                    return;
                                const QString line =
                                    QString::fromUtf8(client->readLine()).trimmed();
                                client->write((RunCommand(line) + QLatin1Char('\n')).toUtf8());
                                client->flush();
                            });
                }
            });
    return true;
}

QString CTrellonDlg::RunCommand(const QString& line)
{
    if (line == QLatin1String("toggle"))
    {
        if (!m_bRecording && !m_pManager->GetVideo().IsAppendable())
            return QStringLiteral("the recording has ended; Clear starts a new one");
        OnRecord();
        return QStringLiteral("ok");
    }
    if (line == QLatin1String("pause"))
    {
        if (!m_bRecording)
            return QStringLiteral("not recording");
        OnPauseRecording();
        return QStringLiteral("ok");
    }
    if (line.startsWith(QLatin1String("save ")))
    {
        if (m_bRecording)
            OnRecord(); // a recording is saved whole: it ends first
        const QString path = line.mid(5);
        QString reason;
        if (!SaveTo(path, reason))
            return QStringLiteral("Error writing to ") + path + QStringLiteral(": ") + reason;
        return QStringLiteral("ok");
    }
    return QStringLiteral("unknown command: ") + line;
}

void CTrellonDlg::OnPauseRecording()
{
    if (!m_bRecording)
        return;
    m_bPaused = !m_bPaused;
    if (m_bPaused)
    {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
    else
    {
        // The first frame after the pause comes one period after the last
        // one before it: the paused time is not in the recording.
        m_pManager->GetVideo().ResumeTimeLine(static_cast<double>(m_nTimerPeriodMs) / 1000.0);
        m_lastTickCounter = m_services.counter();
        m_nTimerId = startTimer(std::chrono::milliseconds(m_nTimerPeriodMs), Qt::PreciseTimer);
    }
    UpdateTitle();
}

void CTrellonDlg::ListenForHotkeys()
{
    std::vector<int> taken;
    const int descriptor = PlatformGrabHotkeys(taken);
    if (descriptor >= 0)
    {
        auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [this]
                {
                    for (int hotkey : PlatformTakeHotkeys())
                        OnHotkey(hotkey);
                });
    }
    if (taken.empty())
        return;
    QStringList names;
    for (int hotkey : taken)
        names.append(QString::fromLatin1(PlatformHotkeyName(hotkey)));
    Message(QGuiApplication::applicationDisplayName(),
            QStringLiteral("%1 can't be used: another program holds it.\n"
                           "trellonhd --toggle-recording and --pause-recording still work; "
                           "bind them to keys of your desktop instead.")
                .arg(names.join(QStringLiteral(", "))),
            QMessageBox::Ok, QMessageBox::Information);
}

void CTrellonDlg::OnHotkey(int hotkey)
{
    if (hotkey == HK_TOGGLE_RECORDING)
        RunCommand(QStringLiteral("toggle"));
    else if (hotkey == HK_PAUSE_RECORDING)
        RunCommand(QStringLiteral("pause"));
}
