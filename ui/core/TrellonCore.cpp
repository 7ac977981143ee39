#include "ui/core/TrellonCore.h"

#include "capture/GameLayout.h"
#include "manager/VideoManager.h"
#include "process/Process.h"
#include "sound/SoundPlayer.h"
#include "video/Video.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <thread>

int s_nLastKind = 0;
int s_bInTimer = 0;
int s_nLastSliderPos = -1;
int g_nDisplayWidth = 640;
int g_nDisplayHeight = 480;
int s_bViewOpen = 0;

const double CTrellonCore::kSpeedFactors[kSpeedCount] = {0.125, 0.25, 0.5, 1.0, 1.5,  2.0, 2.5,
                                                         3.0,   4.0,  5.0, 7.5, 10.0, 15.0};
const int CTrellonCore::kTargetFps[kTargetFpsCount] = {1,  2,  3,  4,  5,  6,  8,  10,
                                                       12, 15, 18, 20, 25, 30, 40, 100};
const char* const CTrellonCore::kExportExtensions[kExportFormatCount] = {"mp4", "webm", "mkv",
                                                                         "gif"};

unsigned CTrellonCore::TimerPeriodMs(int fpsIndex)
{
    if (fpsIndex < 0 || fpsIndex >= kTargetFpsCount)
        fpsIndex = 13; // no selection: the default, 30
    return 1000u / static_cast<unsigned>(kTargetFps[fpsIndex]);
}

CTrellonCore::CTrellonCore(ITrellonWindow& window, std::string journalFolder,
                           VideoExporter exporter)
    : m_window(window), m_pManager(std::make_unique<CVideoManager>()),
      m_exporter(std::move(exporter)), m_strJournalFolder(std::move(journalFolder)),
      m_pPlayer(std::make_unique<CSoundPlayer>(CreateSoundOutput()))
{
    m_pManager->SetJournalFolder(m_strJournalFolder);
}

CTrellonCore::~CTrellonCore()
{
    StopSound(); // before the video whose track it plays
}

void CTrellonCore::OnInitDialog(const std::string& commandLine)
{
    DoDataExchange(false);
    m_bInitialised = true;
    UpdateControls();
    m_window.SetListSelection(IDC_SPEED, 3);
    OnSpeedChange(3);
    m_window.SetListSelection(IDC_TARGET_FPS, 13);
    m_frequency = std::max<std::int64_t>(m_window.CounterFrequency(), 1);
    OfferRecovery();
    if (!commandLine.empty())
    {
        std::string path = commandLine;
        path.erase(std::remove(path.begin(), path.end(), '"'), path.end());
        // A file that could not be read leaves an empty video, as any failed
        // load does, not the part of it that was read.
        if (!path.empty() && !LoadVideo(path))
            ClearVideo();
    }
    UpdateByteCount(); // the empty video's size, as after any clearing
}

void CTrellonCore::DoDataExchange(bool fromControls)
{
    if (fromControls)
    {
        m_pManager->m_bShowCursor = m_window.IsItemChecked(IDC_SHOW_CURSOR) ? 1 : 0;
        m_pManager->m_bShowStats = m_window.IsItemChecked(IDC_STATS) ? 1 : 0;
        m_pManager->m_bShowPlus = m_window.IsItemChecked(IDC_PLUS) ? 1 : 0;
        return;
    }
    m_window.SetItemText(IDC_BYTES, std::to_string(m_nBytes));
    m_window.SetItemText(IDC_TICK_TIME, m_strTickTime);
    m_window.SetItemText(IDC_VERSION, m_strVersion);
    m_window.CheckItem(IDC_SHOW_CURSOR, m_pManager->m_bShowCursor != 0);
    m_window.CheckItem(IDC_STATS, m_pManager->m_bShowStats != 0);
    m_window.CheckItem(IDC_PLUS, m_pManager->m_bShowPlus != 0);
}

void CTrellonCore::UpdateControls()
{
    m_window.SetItemText(IDC_RECORD, m_bRecording ? "Stop Recording" : "Start Recording");
    // Extract too: it would put a fragment in place of the video being
    // recorded, which the next ticks would go on into.
    for (int id : {IDC_GET_FRAME, IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_EXTRACT})
        m_window.EnableItem(id, !m_bRecording);
    m_window.EnableItem(IDC_RECORD, m_pManager->GetVideo().IsAppendable());
    UpdateTitle();
}

void CTrellonCore::InvalidateVideo()
{
    m_bFrameDue = true;
    m_window.InvalidateVideo();
}

// ---------------------------------------------------------------------------
// The recording loop

void CTrellonCore::OnRecord()
{
    const int wasRecording = m_bRecording;
    m_bRecording = !m_bRecording;
    m_bPaused = 0; // a paused recording ends as any other
    if (wasRecording)
    {
        m_window.StopTimer();
        const bool noSound =
            m_pManager->GetSoundState() == CVideoManager::SoundState::Unavailable;
        m_pManager->StopRecording();
        // Said once a run, when the person stops the recording at the
        // window: a message box while recording would hold up the frames,
        // and one after a command of another process would hold up that
        // process (the next stop at the window says it).
        if (noSound && !m_bToldSoundProblem && !m_bRemoteCommand)
        {
            m_bToldSoundProblem = true;
            m_window.Message("Sound",
                             "The recording has no sound: " + m_pManager->GetSoundProblem(),
                             MsgButtons::Ok, MsgIcon::Information);
        }
        if (m_pManager->GetVideo().GetFrameCount() >= 1)
            m_pManager->GetVideo().SetAppendable(false);
    }
    else
    {
        StopSound();
        m_bPlaying = 0;
        m_pManager->m_bRecordSound = m_bRecordSound ? 1 : 0;
        m_nTimerPeriodMs = TimerPeriodMs(m_window.GetListSelection(IDC_TARGET_FPS));
        m_nDroppedTicks = 0;
        m_lastTickCounter = m_window.Counter();
        m_window.StopTimer();
        if (!m_window.StartTimer(m_nTimerPeriodMs))
            m_bRecording = 0;
    }
    UpdateControls();
}

void CTrellonCore::OnTimer()
{
    // Ticks the timer never delivered because the last one ran late: the
    // timer fires once after a delay, however many periods it spanned.
    const std::int64_t now = m_window.Counter();
    if (m_bRecording && m_nTimerPeriodMs > 0)
    {
        const std::int64_t periods =
            (now - m_lastTickCounter) * 1000 / (m_frequency * m_nTimerPeriodMs);
        if (periods > 1)
            m_nDroppedTicks += periods - 1;
    }
    m_lastTickCounter = now;
    if (s_bInTimer)
    {
        if (m_bRecording)
            ++m_nDroppedTicks;
        return; // a message box of the running tick is open
    }
    s_bInTimer = 1;
    if (m_bRecording)
        GrabFrame();
    s_bInTimer = 0;
}

int CTrellonCore::GrabFrame()
{
    DoDataExchange(true);
    const std::int64_t start = m_window.Counter();
    m_window.KeepPicture(); // the capture writes the game's picture over it
    try
    {
        if (!m_pManager->CaptureFrame())
        {
            m_strVersion = kGameNotDetectedText;
            DoDataExchange(false);
            ReportUnreadableGame();
            return 0;
        }
        m_strShownProblem.clear();
        const int kind = m_pManager->GetLayout().GetKind();
        if (kind != s_nLastKind)
        {
            s_nLastKind = kind;
            const std::string text = GameKindText(kind);
            if (m_strVersion != text)
            {
                m_strVersion = text;
                DoDataExchange(false);
            }
            if (m_pManager->m_bShowStats || m_pManager->m_bShowPlus)
            {
                for (const std::string& name : m_pManager->GetMissingSheets())
                    m_window.Message("error loading file", "File " + name + " have not been loaded",
                                     MsgButtons::Ok, MsgIcon::None, false);
            }
        }
    }
    catch (const std::runtime_error&)
    {
        // A read that failed half way: the next tick tries again.
    }
    if (m_pManager->RanOutOfMemory())
        ReportOutOfMemory();
    if (m_pManager->GameSizeChanged())
        ReportGameSizeChange();
    if (!m_pManager->GetJournalProblem().empty() && !m_bToldJournalProblem)
    {
        m_bToldJournalProblem = true;
        m_window.Message("Error",
                         "The recording goes on, but it is no longer protected against a "
                         "crash:\n" +
                             m_pManager->GetJournalProblem(),
                         MsgButtons::Ok, MsgIcon::Warning);
    }

    m_window.SetSliderRange(m_pManager->GetVideo().GetFrameCount() - 1);
    UpdateByteCount();
    ShowFrame();
    const std::int64_t end = m_window.Counter();
    char tickTime[64];
    std::snprintf(tickTime, sizeof tickTime, "%f sec",
                  static_cast<double>(end - start) / static_cast<double>(m_frequency));
    m_strTickTime = tickTime;
    DoDataExchange(false);
    UpdateTitle(false);
    return 1;
}

// The game's window is there but its memory can't be read: say why once,
// instead of only kGameNotDetectedText at every tick.
void CTrellonCore::ReportUnreadableGame()
{
    const std::string& problem = m_pManager->GetProcess().GetProblem();
    if (problem.empty() || problem == m_strShownProblem)
        return;
    m_strShownProblem = problem;
    m_window.Message("Error",
                     "The game's window was found, but TrellonHD can't read the game's "
                     "memory.\n" +
                         problem,
                     MsgButtons::Ok, MsgIcon::Warning);
}

// A frame that found no memory is lost; stop before more are, so that what
// was recorded can be saved.
void CTrellonCore::ReportOutOfMemory()
{
    if (m_bRecording)
        OnRecord();
    if (m_bToldOutOfMemory)
        return;
    m_bToldOutOfMemory = true;
    m_window.Message("Error",
                     "Not enough memory for more frames: the recording was stopped.\n"
                     "The frames recorded so far are kept; save them now.",
                     MsgButtons::Ok, MsgIcon::Warning);
}

// The game came back at another picture size. A video keeps the size of its
// frames, so the recording ends here with every frame kept; a new recording
// (after Clear) takes the new size.
void CTrellonCore::ReportGameSizeChange()
{
    if (m_bRecording)
        OnRecord();
    const CVideo& video = m_pManager->GetVideo();
    char text[256];
    std::snprintf(text, sizeof text,
                  "The game's picture changed from %d x %d to %d x %d: the recording was "
                  "stopped.\nThe %d frames recorded so far are kept; save them, then Clear to "
                  "record at the new size.",
                  video.GetWidth(), video.GetHeight(), m_pManager->GetGameWidth(),
                  m_pManager->GetGameHeight(), video.GetFrameCount());
    m_window.Message("Error", text, MsgButtons::Ok, MsgIcon::Warning);
}

void CTrellonCore::UpdateByteCount()
{
    DoDataExchange(true);
    m_nBytes = m_pManager->GetVideo().GetBodySize();
    DoDataExchange(false);
}

// ---------------------------------------------------------------------------
// The playback loop

// A paint that only uncovers the video draws the prepared picture again; the
// frame is fetched anew while playing, when something asked for it, or when
// there is no picture yet. A capture tick, which shows its frame itself, is
// then not followed by a second decode.
void CTrellonCore::OnPaint()
{
    if (!m_bInitialised)
        return;
    const bool playing = m_bPlaying != 0;
    if (playing)
        PlaybackStep();
    if (playing || m_bFrameDue || !m_window.HasPicture())
        ShowFrame();
}

void CTrellonCore::PlaybackStep()
{
    const std::int64_t now = m_window.Counter();
    const std::int64_t step = now - m_lastCounter;
    m_lastCounter = now;
    m_dPlayTime += (static_cast<double>(step) / static_cast<double>(m_frequency)) * m_dSpeed;
    const int count = m_pManager->GetVideo().GetFrameCount();
    int i = m_window.GetSliderPos();
    while (i < count && static_cast<double>(m_pManager->GetFrameTime(i)) < m_dPlayTime)
        ++i;
    if (i >= count)
    {
        i = 0;
        m_bPlaying = 0;
    }
    m_window.SetSliderPos(i);
    FollowWithSound();
    if (!m_bPlaying)
        return;
    // The frame shown stays right until the clock passes its time stamp: the
    // next paint is asked for then, not at once, so that playback leaves
    // the processor idle between frames.
    const double due = (static_cast<double>(m_pManager->GetFrameTime(i)) - m_dPlayTime) / m_dSpeed;
    m_nNextPaintMs = due > 0 ? static_cast<int>(std::min(due * 1000.0, 1000.0)) + 1 : 0;
    if (m_nNextPaintMs == 0)
        InvalidateVideo();
    else
        m_window.SchedulePaint(m_nNextPaintMs);
}

void CTrellonCore::OnPlay()
{
    if (m_bRecording || m_pManager->GetVideo().GetFrameCount() < 1)
        return;
    m_dPlayTime = static_cast<double>(m_pManager->GetFrameTime(m_window.GetSliderPos()));
    m_lastCounter = m_window.Counter();
    InvalidateVideo();
    m_bPlaying = 1;
}

void CTrellonCore::OnPause()
{
    m_bPlaying = 0;
    StopSound();
    m_window.CancelPaint();
}

void CTrellonCore::FollowWithSound()
{
    const CSoundTrack& track = m_pManager->GetVideo().GetSound();
    if (!m_bPlaying || m_bRecording || m_dSpeed != 1.0 || track.Empty() || m_bNoSoundOutput)
    {
        StopSound();
        return;
    }
    if (m_pPlayer->IsPlaying())
    {
        m_pPlayer->Follow(m_dPlayTime);
        return;
    }
    std::string why;
    m_pPlayer->SetMuted(m_bMuted);
    if (!m_pPlayer->Play(track, m_dPlayTime, why))
        m_bNoSoundOutput = true; // no output: the picture plays on, silent
}

void CTrellonCore::StopSound()
{
    if (m_pPlayer)
        m_pPlayer->Stop();
}

bool CTrellonCore::IsSoundPlaying() const
{
    return m_pPlayer && m_pPlayer->IsPlaying();
}

void CTrellonCore::OnRecordSound()
{
    if (!CanChangeRecordSound())
        return;
    m_bRecordSound = !m_bRecordSound;
}

void CTrellonCore::OnMute()
{
    m_bMuted = !m_bMuted;
    m_pPlayer->SetMuted(m_bMuted);
}

void CTrellonCore::OnSpeedChange(int index)
{
    if (index < 0 || index >= kSpeedCount)
        return;
    m_dSpeed = kSpeedFactors[index];
    InvalidateVideo();
}

void CTrellonCore::OnHScroll()
{
    const int position = m_window.GetSliderPos();
    if (position != s_nLastSliderPos)
    {
        InvalidateVideo();
        s_nLastSliderPos = position;
    }
    if (m_bPlaying)
        OnPlay();
}

// ---------------------------------------------------------------------------
// The window

void CTrellonCore::OnSysCommand(int id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX)
        m_window.ShowAbout();
}

bool CTrellonCore::OnClose()
{
    if (m_pManager->GetVideo().IsSaved())
        return true;
    m_bPlaying = 0;
    StopSound();
    if (m_window.Message("Closing application", "You have some unsaved frames, exit anyway?",
                         MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
        return false;
    m_pManager->DiscardJournal(); // the person gave the frames up
    return true;
}

void CTrellonCore::OnViewClosed()
{
    InvalidateVideo();
}
