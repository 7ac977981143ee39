#include "ui/qt/RemoteCommands.h"

#include <QLocalSocket>
#include <cstdlib>

QString RemoteCommandServerName()
{
    // Tests running side by side each take a name of their own.
    const char* chosen = std::getenv("TRELLON_COMMAND_SOCKET");
    if (chosen != nullptr && *chosen != '\0')
        return QString::fromLocal8Bit(chosen);
    const char* user = std::getenv("USER");
    return QStringLiteral("trellonhd-") +
           QString::fromLocal8Bit(user != nullptr && *user != '\0' ? user : "user");
}

int SendRemoteCommand(const QString& server, const QString& command, QString& answer)
{
    QLocalSocket socket;
    socket.connectToServer(server);
    if (!socket.waitForConnected(2000))
    {
        answer = QStringLiteral("no TrellonHD is running (nothing listens at %1)").arg(server);
        return 1;
    }
    socket.write((command + QLatin1Char('\n')).toUtf8());
    socket.flush();
    // A save of a long recording takes a while.
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(120000))
        {
            answer = QStringLiteral("TrellonHD did not answer");
            return 1;
        }
    answer = QString::fromUtf8(socket.readLine()).trimmed();
    return answer == QLatin1String("ok") ? 0 : 1;
}
