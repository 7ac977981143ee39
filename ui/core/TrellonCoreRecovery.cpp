// At start-up, the journals of recordings that an earlier run never saved
// (it crashed, was killed, or the session ended under it): each is offered
// in turn, newest first. Yes turns it into the current video, unsaved, as if
// the person had loaded it, and the journal stays until that video is saved
// or given up; No keeps it for later, unless the person asks to delete it.

#include "manager/VideoManager.h"
#include "ui/core/TrellonCore.h"
#include "video/FileAccess.h"
#include "video/Journal.h"
#include "video/Video.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

void CTrellonCore::OfferRecovery()
{
    if (m_strJournalFolder.empty())
        return;
    std::vector<std::string> journals = ListJournals(m_strJournalFolder);
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
            std::filesystem::remove(Utf8Path(path), ec); // nothing was recorded
            continue;
        }
        const std::string start = JournalStartText(summary.header.startMs, true);
        char question[256];
        std::snprintf(question, sizeof question,
                      "A recording was never saved: it started %s and holds %lld frames of "
                      "%d x %d.\nRecover it?",
                      start.empty() ? "?" : start.c_str(), static_cast<long long>(summary.frames),
                      static_cast<int>(summary.header.width),
                      static_cast<int>(summary.header.height));
        if (m_window.Message("Recover recording", question, MsgButtons::YesNo, MsgIcon::Question) !=
            MsgAnswer::Yes)
        {
            if (m_window.Message("Recover recording",
                                 "Delete the journal of this recording?\n" + path +
                                     "\nIts frames will be lost.",
                                 MsgButtons::YesNo, MsgIcon::Question) == MsgAnswer::Yes)
                std::filesystem::remove(Utf8Path(path), ec);
            continue;
        }

        const std::string recovered = path + ".dk2";
        if (!RecoverJournal(path, recovered, summary, error))
        {
            m_window.Message("Error",
                             "The recording could not be recovered from " + path + "\n" + error,
                             MsgButtons::Ok, MsgIcon::Warning);
            continue;
        }
        const bool loaded = LoadVideo(recovered) != 0;
        std::filesystem::remove(Utf8Path(recovered), ec);
        if (!loaded)
            continue;
        // As recorded, not as loaded: the frames are saved nowhere yet.
        m_pManager->GetVideo().MarkUnsaved();
        m_pManager->AdoptJournal(path);
        m_strFileName.clear();
        UpdateControls();
        m_window.Message("Recover recording",
                         "The recording was recovered from its journal:\n" + path +
                             "\nSave it to keep it; the journal stays until then.",
                         MsgButtons::Ok, MsgIcon::Information);
        return;
    }
}
