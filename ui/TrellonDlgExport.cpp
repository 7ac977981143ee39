// Export to a video file from the window: the format, the frames and the
// enlargement from the export dialog, the file name from a file chooser,
// then the export with a progress dialog that can cancel (which leaves
// nothing behind).

#include "ExportDlg.h"
#include "LongTask.h"
#include "TrellonDlg.h"
#include "Video.h"
#include "VideoExport.h"
#include "VideoManager.h"

#include <QFile>

void CTrellonDlg::OnExport()
{
    const CVideo& video = m_pManager->GetVideo();
    if (m_bRecording || video.GetFrameCount() == 0)
        return;
    m_bPlaying = 0;
    // The whole video, or the fragment numbers last used.
    const bool fragment = m_nLastFirst >= 1 && m_nLastEnd >= m_nLastFirst;
    CExportDlg dialog(this, video.GetFrameCount(), fragment ? m_nLastFirst : 1,
                      fragment ? m_nLastEnd : video.GetFrameCount());
    if (m_services.runModal(dialog) != QDialog::Accepted)
        return;
    const QString extension = QString::fromLatin1(CExportDlg::kExtensions[dialog.GetFormat()]);
    const QString path = m_services.chooseExportFile(this, extension);
    if (path.isEmpty())
        return;
    ExportFormat format = ExportFormat::Mp4;
    if (!ExportFormatOf(QFile::encodeName(path).toStdString(), format))
    {
        Message(QStringLiteral("Error"),
                QStringLiteral("Error writing to ") + path +
                    QStringLiteral("\nthe file name must end in .mp4, .webm, .mkv or .gif"),
                QMessageBox::Ok);
        return;
    }

    ExportOptions options;
    options.first = dialog.GetFirst();
    options.last = dialog.GetLast();
    options.scale = dialog.GetScale();
    options.cursor = m_pManager->m_bShowCursor != 0;
    std::string error;
    bool ok = false, cancelled = false;
    {
        CLongTask task(this, QStringLiteral("Exporting frames..."), s_bInTimer);
        ok = ExportVideo(
            video, QFile::encodeName(path).toStdString(), format, options,
            [&task](int done, int total) { return task.Report(done, total); }, error);
        cancelled = task.Cancelled();
    }
    if (!ok && !cancelled)
        Message(QStringLiteral("Error"),
                QStringLiteral("Error writing to ") + path + "\n" + QString::fromStdString(error),
                QMessageBox::Ok);
}
