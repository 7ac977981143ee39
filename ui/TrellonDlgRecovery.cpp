// At start-up, the journals of recordings that an earlier run never saved
// (it crashed, was killed, or the session ended under it): each is offered
// in turn, newest first. Yes turns it into the current video, unsaved, as if
// the person had loaded it, and the journal stays until that video is saved
// or given up; No keeps it for later, unless the person asks to delete it.

#include "FileAccess.h"
#include "Journal.h"
#include "TrellonDlg.h"
#include "Video.h"
#include "VideoManager.h"

#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <filesystem>
#include <vector>

void CTrellonDlg::OfferRecovery()
{
    const std::string folder = QFile::encodeName(m_services.journalFolder).toStdString();
    if (folder.empty())
        return;
    std::vector<std::string> journals = ListJournals(folder);
    std::reverse(journals.begin(), journals.end()); // the newest first
    std::error_code ec;

    for (const std::string& path : journals)
    {
        JournalSummary summary;
        std::string error;
        if (!ScanJournal(path, summary, error))
            continue;
        if (summary.frames == 0)
        {
            std::filesystem::remove(path, ec); // nothing was recorded
            continue;
        }
        const QString started = QDateTime::fromMSecsSinceEpoch(summary.header.startMs)
                                    .toLocalTime()
                                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const QString shown = QFile::decodeName(path.c_str());
        if (Message(QStringLiteral("Recover recording"),
                    QStringLiteral("A recording was never saved: it started %1 and holds %2 "
                                   "frames of %3 x %4.\nRecover it?")
                        .arg(started)
                        .arg(summary.frames)
                        .arg(summary.header.width)
                        .arg(summary.header.height),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) != QMessageBox::Yes)
        {
            if (Message(QStringLiteral("Recover recording"),
                        QStringLiteral("Delete the journal of this recording?\n%1\nIts frames "
                                       "will be lost.")
                            .arg(shown),
                        QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Question) == QMessageBox::Yes)
                std::filesystem::remove(path, ec);
            continue;
        }

        const std::string recovered = path + ".dk2";
        if (!RecoverJournal(path, recovered, summary, error))
        {
            Message(QStringLiteral("Error"),
                    QStringLiteral("The recording could not be recovered from %1\n%2")
                        .arg(shown, QString::fromLocal8Bit(error.c_str())),
                    QMessageBox::Ok, QMessageBox::Warning);
            continue;
        }
        const bool loaded = LoadVideo(QFile::decodeName(recovered.c_str())) != 0;
        std::filesystem::remove(recovered, ec);
        if (!loaded)
            continue;
        // As recorded, not as loaded: the frames are saved nowhere yet.
        m_pManager->GetVideo().MarkUnsaved();
        m_pManager->AdoptJournal(path);
        m_strFileName.clear();
        UpdateControls();
        Message(QStringLiteral("Recover recording"),
                QStringLiteral("The recording was recovered from its journal:\n%1\nSave it to "
                               "keep it; the journal stays until then.")
                    .arg(shown),
                QMessageBox::Ok, QMessageBox::Information);
        return;
    }
}
