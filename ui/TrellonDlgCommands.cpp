// The main dialog's commands: the frame display, saving, loading, clearing,
// statistics, fragments and the detached window.

#include "DisplayImage.h"
#include "ExtractDlg.h"
#include "FileAccess.h"
#include "LongTask.h"
#include "ResizableView.h"
#include "TrellonDlg.h"
#include "Video.h"
#include "VideoArea.h"
#include "VideoManager.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressDialog>
#include <QScreen>
#include <QSlider>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace
{
// A 1-based frame number as the person typed it, as a 0-based index.
int ToIndex(int number)
{
    return number == INT_MIN ? INT_MIN : number - 1;
}
} // namespace

// ---------------------------------------------------------------------------
// The frame display

void CTrellonDlg::ShowFrame()
{
    m_bFrameDue = false;
    DoDataExchange(true);
    const int i = GetSliderPos();
    try
    {
        QImage image = DisplayImage(m_pManager->GetFrame(i));
        if (image.isNull())
            return;
        m_displayImage = std::move(image);
        QWidget* const shows = m_pView != nullptr ? static_cast<QWidget*>(m_pView) : m_pArea;
        if (shows != m_pPainting)
            shows->update();

        m_pFrameText->setText(
            QString::asprintf("Frame %d/%d", i + 1, m_pManager->GetVideo().GetFrameCount()));
        m_pTimeText->setText(
            QString::asprintf("Time %.2f", static_cast<double>(m_pManager->GetFrameTime(i))));
    }
    catch (const std::runtime_error&)
    {
        // The game went away while it was read: the picture stays as it was.
    }
    // Lets the paint-driven playback loop breathe.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// ---------------------------------------------------------------------------
// Files

void CTrellonDlg::OnSave()
{
    if (m_bRecording)
        return;
    const QString path = m_services.chooseFile(this, true);
    if (path.isEmpty())
        return;
    QString reason;
    if (!SaveTo(path, reason))
        Message(QStringLiteral("Error"), QStringLiteral("Error writing to ") + path + "\n" + reason,
                QMessageBox::Ok);
}

bool CTrellonDlg::SaveTo(const QString& path, QString& reason)
{
    std::string why;
    if (!m_pManager->SaveVideo(QFile::encodeName(path).toStdString(), &why))
    {
        reason = QString::fromLocal8Bit(why.c_str());
        return false;
    }
    m_strFileName = path;
    UpdateControls();
    return true;
}

void CTrellonDlg::OnLoad()
{
    if (m_bRecording)
        return;
    const QString path = m_services.chooseFile(this, false);
    if (path.isEmpty())
        return;
    if (!LoadVideo(path))
        ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

int CTrellonDlg::LoadVideo(const QString& path)
{
    std::string reason;
    std::FILE* file = OpenRegularFile(QFile::encodeName(path).toStdString(), reason);
    if (file == nullptr)
    {
        Message(QStringLiteral("Error"),
                QStringLiteral("Error opening ") + path + QStringLiteral(" for reading\n") +
                    QString::fromLocal8Bit(reason),
                QMessageBox::Ok);
        return 0;
    }
    if (!ClearVideo())
    {
        std::fclose(file);
        Message(QGuiApplication::applicationDisplayName(), QStringLiteral("Load canceled"),
                QMessageBox::Ok);
        return 0;
    }

    KeepDisplayImage(); // loading may move the frame buffer
    auto video = std::make_unique<CVideo>();
    std::string error;
    const int read = video->ReadBody(&error, file);
    m_pManager->InstallLoadedVideo(std::move(video));
    if (!read)
    {
        std::fclose(file);
        Message(QStringLiteral("Error"),
                QStringLiteral("Error reading ") + path + "\n" + QString::fromStdString(error),
                QMessageBox::Ok);
        return 0;
    }

    const CVideo& loaded = m_pManager->GetVideo();
    g_nDisplayWidth = loaded.GetWidth();
    g_nDisplayHeight = loaded.GetHeight();
    if (g_nDisplayWidth > 640 || g_nDisplayHeight > 480)
    {
        OnDetachVideo();
        SizeViewToVideo();
    }
    std::fclose(file);
    m_strFileName = path;
    UpdateControls();
    SetSliderPos(0);
    SetSliderRange(loaded.GetFrameCount() - 1);
    ShowFrame();
    UpdateByteCount();
    return 1;
}

int CTrellonDlg::ClearVideo()
{
    if (m_bRecording)
        return 0;
    if (!m_pManager->GetVideo().IsSaved() &&
        Message(QStringLiteral("?"), QStringLiteral("Clear current video?"),
                QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return 0;
    m_pManager->DiscardJournal(); // confirmed, or saved before
    m_pManager->NewVideo();
    m_strFileName.clear();
    m_bToldOutOfMemory = false;
    m_bToldJournalProblem = false;
    SetSliderRange(0);
    SetSliderPos(0);
    UpdateControls();
    return 1;
}

void CTrellonDlg::OnClear()
{
    ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

void CTrellonDlg::OnDropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    if (m_bRecording)
    {
        Message(QStringLiteral("Error"), QStringLiteral("Can't load file while recording"),
                QMessageBox::Ok);
        return;
    }
    if (!LoadVideo(paths.constFirst()))
        ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

// ---------------------------------------------------------------------------
// Statistics and fragments

void CTrellonDlg::OnVideoInfo()
{
    VideoStats stats;
    m_pManager->GetVideo().GetStats(stats);
    m_bPlaying = 0;
    Message(QStringLiteral("Stats"),
            QString::asprintf("MedianFPS: %.3f\nAvg Bytes/Frame: %.2f", stats.medianFps,
                              stats.avgBytesPerFrame),
            QMessageBox::Ok);
}

void CTrellonDlg::OnExtract()
{
    if (m_bRecording)
        return;
    CExtractDlg dialog(this, m_services);
    if (m_services.runModal(dialog) != QDialog::Accepted)
        return;
    if (Message(QStringLiteral("Extract"),
                QStringLiteral("Current video will be overwritten\nContinue??"),
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;

    // Cutting a long video takes a while: show how far it got, and let the
    // person cancel, which keeps the video as it was.
    const int first = ToIndex(dialog.m_nStartFrame), last = ToIndex(dialog.m_nEndFrame);
    m_nLastFirst = dialog.m_nStartFrame;
    m_nLastEnd = dialog.m_nEndFrame;
    int extracted = 0;
    {
        CLongTask task(this, QStringLiteral("Extracting frames..."), s_bInTimer);
        extracted = m_pManager->ExtractFragment(
            first, last, [&task](int done, int total) { return task.Report(done, total); });
        if (!extracted && !task.Cancelled())
            Message(QStringLiteral("Error"),
                    QStringLiteral("Not enough memory for the fragment: the video was kept."),
                    QMessageBox::Ok, QMessageBox::Warning);
    }
    if (extracted)
        m_strFileName.clear(); // a new video, saved nowhere yet

    SetSliderPos(0);
    SetSliderRange(m_pManager->GetVideo().GetFrameCount() - 1);
    ShowFrame();
    UpdateByteCount();
    UpdateTitle();
}

// ---------------------------------------------------------------------------
// The detached window, the cursor switch and the single capture

void CTrellonDlg::OnDetachVideo()
{
    if (m_pView == nullptr)
        m_pView = new CResizableView(this, &m_pView);
    m_pView->activateWindow();
    m_pView->raise();
    m_pView->setFocus();
}

void CTrellonDlg::SizeViewToVideo()
{
    if (m_pView == nullptr)
        return;
    // The client area takes the picture's size, or, for a picture larger
    // than the screen can show, the largest size of the picture's shape that
    // fits the screen's free area with the window's frame around it.
    const QRect frame = m_pView->frameGeometry();
    const QSize decoration = frame.size() - m_pView->geometry().size();
    QSize size(g_nDisplayWidth, g_nDisplayHeight);
    if (const QScreen* screen = m_pView->screen())
    {
        const QRect free = screen->availableGeometry();
        const QSize room = free.size() - decoration;
        if (size.width() > room.width() || size.height() > room.height())
            size.scale(room, Qt::KeepAspectRatio);
        // The frame stays where it was when the window fits there.
        QPoint topLeft = frame.topLeft();
        if (topLeft.x() + size.width() + decoration.width() > free.right() + 1)
            topLeft.setX(free.left());
        if (topLeft.y() + size.height() + decoration.height() > free.bottom() + 1)
            topLeft.setY(free.top());
        m_pView->resize(size);
        m_pView->move(topLeft);
    }
    else
    {
        m_pView->resize(size);
        m_pView->move(frame.topLeft());
    }
    m_pView->show();
}

void CTrellonDlg::OnShowCursor()
{
    ShowFrame();
}

void CTrellonDlg::OnGetFrame()
{
    GrabFrame();
}
