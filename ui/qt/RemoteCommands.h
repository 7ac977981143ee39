#pragma once

#include <QString>

// Commands to a TrellonHD that already runs, from `trellonhd --toggle-recording`
// and friends, over a local socket named after the user. Each is one line
// ("toggle", "pause", "save PATH"); the answer is one line, "ok" or the
// reason it could not be done.

// The socket's name for this user (TRELLON_COMMAND_SOCKET chooses another).
QString RemoteCommandServerName();

// Sends `command` to the TrellonHD listening at `server` and waits for its
// answer. 0 when it was done; 1, with `answer` saying why, when it was not or
// when no TrellonHD runs.
int SendRemoteCommand(const QString& server, const QString& command, QString& answer);
