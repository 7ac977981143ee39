// Commands from other processes (trellonhd --toggle-recording,
// --pause-recording, --save PATH) through a local socket, and the global
// hotkeys (Ctrl+Alt+R, Ctrl+Alt+P) through the platform's key grabs, so that
// a recording is driven while the game has the focus.

#include "desktop/Hotkeys.h"
#include "ui/qt/TrellonDlg.h"

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
    return QString::fromStdString(m_core.RunCommand(line.toUtf8().toStdString()));
}

void CTrellonDlg::ListenForHotkeys()
{
    std::vector<int> taken;
    const int descriptor = PlatformRegisterHotkeys(taken);
    if (descriptor >= 0)
    {
        auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [this]
                {
                    for (int hotkey : PlatformPressedHotkeys())
                        OnHotkey(hotkey);
                });
    }
    m_core.ReportTakenHotkeys(taken);
}
