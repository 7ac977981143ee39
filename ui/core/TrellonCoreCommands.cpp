// The main dialog's commands: the frame display, saving, loading, clearing,
// statistics, fragments, export and the detached window.

#include "capture/Capture.h"
#include "manager/VideoManager.h"
#include "ui/core/TrellonCore.h"
#include "video/FileAccess.h"
#include "video/Video.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace
{
// A 1-based frame number as the person typed it, as a 0-based index.
int ToIndex(int number)
{
    return number == INT_MIN ? INT_MIN : number - 1;
}

// The guard of the timer held through a long command, so that ticks that
// come meanwhile are dropped as during any long tick.
class CTimerGuard
{
public:
    CTimerGuard() : m_nWas(s_bInTimer) { s_bInTimer = 1; }
    ~CTimerGuard() { s_bInTimer = m_nWas; }
    CTimerGuard(const CTimerGuard&) = delete;
    CTimerGuard& operator=(const CTimerGuard&) = delete;

private:
    int m_nWas;
};
} // namespace

// ---------------------------------------------------------------------------
// The frame display

void CTrellonCore::ShowFrame()
{
    m_bFrameDue = false;
    DoDataExchange(true);
    const int i = m_window.GetSliderPos();
    try
    {
        const DisplayFrame frame = m_pManager->GetFrame(i);
        if (frame.info == nullptr || frame.pixels == nullptr)
            return;
        m_window.ShowPicture(frame);
        char text[64];
        std::snprintf(text, sizeof text, "Frame %d/%d", i + 1,
                      m_pManager->GetVideo().GetFrameCount());
        m_window.SetItemText(IDC_FRAME_TEXT, text);
        std::snprintf(text, sizeof text, "Time %.2f",
                      static_cast<double>(m_pManager->GetFrameTime(i)));
        m_window.SetItemText(IDC_TIME_TEXT, text);
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

void CTrellonCore::OnSave()
{
    if (m_bRecording)
        return;
    const std::string path = m_window.ChooseVideoFile(true);
    if (path.empty())
        return;
    std::string reason;
    if (!SaveTo(path, reason))
        m_window.Message("Error", "Error writing to " + path + "\n" + reason, MsgButtons::Ok);
}

bool CTrellonCore::SaveTo(const std::string& path, std::string& reason)
{
    if (!m_pManager->SaveVideo(path, &reason))
        return false;
    m_strFileName = path;
    UpdateControls();
    return true;
}

void CTrellonCore::OnLoad()
{
    if (m_bRecording)
        return;
    const std::string path = m_window.ChooseVideoFile(false);
    if (path.empty())
        return;
    if (!LoadVideo(path))
        ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

int CTrellonCore::LoadVideo(const std::string& path)
{
    std::string reason;
    std::FILE* file = OpenRegularFile(path, reason);
    if (file == nullptr)
    {
        m_window.Message("Error", "Error opening " + path + " for reading\n" + reason,
                         MsgButtons::Ok);
        return 0;
    }
    if (!ClearVideo())
    {
        std::fclose(file);
        m_window.Message("TrellonHD", "Load canceled", MsgButtons::Ok);
        return 0;
    }

    m_window.KeepPicture(); // loading may move the frame buffer
    auto video = std::make_unique<CVideo>();
    std::string error;
    const int read = video->ReadBody(&error, file);
    m_pManager->InstallLoadedVideo(std::move(video));
    std::fclose(file);
    if (!read)
    {
        m_window.Message("Error", "Error reading " + path + "\n" + error, MsgButtons::Ok);
        return 0;
    }

    const CVideo& loaded = m_pManager->GetVideo();
    g_nDisplayWidth = loaded.GetWidth();
    g_nDisplayHeight = loaded.GetHeight();
    if (g_nDisplayWidth > 640 || g_nDisplayHeight > 480)
    {
        OnDetachVideo();
        m_window.SizeDetachedView(g_nDisplayWidth, g_nDisplayHeight);
    }
    m_strFileName = path;
    UpdateControls();
    m_window.SetSliderPos(0);
    m_window.SetSliderRange(loaded.GetFrameCount() - 1);
    ShowFrame();
    UpdateByteCount();
    return 1;
}

int CTrellonCore::ClearVideo()
{
    if (m_bRecording)
        return 0;
    if (!m_pManager->GetVideo().IsSaved() &&
        m_window.Message("?", "Clear current video?", MsgButtons::YesNo) != MsgAnswer::Yes)
        return 0;
    StopSound(); // it plays the track of the video going
    m_pManager->DiscardJournal(); // confirmed, or saved before
    m_pManager->NewVideo();
    m_strFileName.clear();
    m_bToldOutOfMemory = false;
    m_bToldJournalProblem = false;
    m_window.SetSliderRange(0);
    m_window.SetSliderPos(0);
    UpdateControls();
    return 1;
}

void CTrellonCore::OnClear()
{
    ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

void CTrellonCore::OnDropFiles(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    if (m_bRecording)
    {
        m_window.Message("Error", "Can't load file while recording", MsgButtons::Ok);
        return;
    }
    if (!LoadVideo(paths.front()))
        ClearVideo();
    ShowFrame();
    UpdateByteCount();
}

// ---------------------------------------------------------------------------
// Statistics, fragments and export

void CTrellonCore::OnVideoInfo()
{
    VideoStats stats;
    m_pManager->GetVideo().GetStats(stats);
    m_bPlaying = 0;
    char text[128];
    std::snprintf(text, sizeof text, "MedianFPS: %.3f\nAvg Bytes/Frame: %.2f", stats.medianFps,
                  stats.avgBytesPerFrame);
    m_window.Message("Stats", text, MsgButtons::Ok);
}

void CTrellonCore::OnExtract()
{
    if (m_bRecording)
        return;
    int start = 0, end = 0;
    if (!m_window.AskFragment(start, end))
        return;
    if (m_window.Message("Extract", "Current video will be overwritten\nContinue??",
                         MsgButtons::OkCancel) != MsgAnswer::Ok)
        return;

    // Cutting a long video takes a while: show how far it got, and let the
    // person cancel, which keeps the video as it was.
    m_nLastFirst = start;
    m_nLastEnd = end;
    int extracted = 0;
    {
        const CTimerGuard guard;
        const std::unique_ptr<ILongTaskView> task = m_window.BeginLongTask("Extracting frames...");
        StopSound();
        extracted = m_pManager->ExtractFragment(ToIndex(start), ToIndex(end),
                                                [&task](int done, int total)
                                                { return task->Report(done, total); });
        if (!extracted && !task->Cancelled())
            m_window.Message("Error", "Not enough memory for the fragment: the video was kept.",
                             MsgButtons::Ok, MsgIcon::Warning);
    }
    if (extracted)
        m_strFileName.clear(); // a new video, saved nowhere yet

    m_window.SetSliderPos(0);
    m_window.SetSliderRange(m_pManager->GetVideo().GetFrameCount() - 1);
    ShowFrame();
    UpdateByteCount();
    UpdateTitle();
}

bool CTrellonCore::CanExport() const
{
    return m_exporter && !m_bRecording && m_pManager->GetVideo().GetFrameCount() > 0;
}

// The format, the frames and the enlargement from the export dialog, the
// file name from a file chooser, then the export with a progress window that
// can cancel (which leaves nothing behind).
void CTrellonCore::OnExport()
{
    if (!CanExport())
        return;
    const CVideo& video = m_pManager->GetVideo();
    m_bPlaying = 0;
    // The whole video, or the fragment numbers last used.
    const bool fragment = m_nLastFirst >= 1 && m_nLastEnd >= m_nLastFirst;
    ExportChoice choice;
    choice.first = fragment ? m_nLastFirst : 1;
    choice.last = fragment ? m_nLastEnd : video.GetFrameCount();
    if (!m_window.AskExport(video.GetFrameCount(), choice) || choice.format < 0 ||
        choice.format >= kExportFormatCount)
        return;
    const std::string path = m_window.ChooseExportFile(kExportExtensions[choice.format]);
    if (path.empty())
        return;
    ExportFormat format = ExportFormat::Mp4;
    if (!ExportFormatOf(path, format))
    {
        m_window.Message("Error",
                         "Error writing to " + path +
                             "\nthe file name must end in .mp4, .webm, .mkv or .gif",
                         MsgButtons::Ok);
        return;
    }

    std::string error;
    bool ok = false, cancelled = false;
    {
        const CTimerGuard guard;
        const std::unique_ptr<ILongTaskView> task = m_window.BeginLongTask("Exporting frames...");
        ok = m_exporter(
            video, path, format, choice.first, choice.last, choice.scale,
            m_pManager->m_bShowCursor != 0,
            [&task](int done, int total) { return task->Report(done, total); }, error);
        cancelled = task->Cancelled();
    }
    if (!ok && !cancelled)
        m_window.Message("Error", "Error writing to " + path + "\n" + error, MsgButtons::Ok);
}

// ---------------------------------------------------------------------------
// The detached window, the cursor switch and the single capture

void CTrellonCore::OnDetachVideo()
{
    m_window.OpenDetachedView();
}

void CTrellonCore::OnShowCursor()
{
    ShowFrame();
}

void CTrellonCore::OnGetFrame()
{
    GrabFrame();
}
