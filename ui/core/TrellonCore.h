#pragma once

#include "export/ExportFormat.h"
#include "ui/core/TrellonWindow.h"
#include "ui/core/resource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CVideo;
class CVideoManager;

// How trellonhd is run: its arguments and the commands it sends to the
// TrellonHD that already runs, as --help shows them on every platform.
extern const char kTrellonHdUsage[];

// Values kept for the program's whole run.
extern int s_nLastKind;      // game kind last turned into text by GrabFrame
extern int s_bInTimer;       // a timer tick is running
extern int s_nLastSliderPos; // slider position last seen by the slider handler
extern int g_nDisplayWidth;  // size of the picture ShowFrame draws; changed
extern int g_nDisplayHeight; // only by loading a file
extern int s_bViewOpen;      // a detached video window exists

// Writes the video's frames `first` to `last` (from 1) to `path` in
// `format`, enlarged `scale` times, with or without the pointer, reporting
// its progress (false from it cancels); false with the reason.
using VideoExporter = std::function<bool(
    const CVideo& video, const std::string& path, ExportFormat format, int first, int last,
    int scale, bool cursor, const std::function<bool(int, int)>& progress, std::string& error)>;

// The main dialog's logic, written once for every toolkit. It owns the video
// manager and runs both loops on the window's one thread: the recording loop
// on a precise timer whose ticks capture a frame each, and the playback loop
// driven by painting, where every paint of the video advances the playback
// clock by the elapsed counter time times the speed, moves the slider to the
// first frame not before the clock and asks for the next paint when that
// frame is due. A frame is decoded into the manager's frame buffer once and
// painted from there. The window (ITrellonWindow) does what only a toolkit
// can: controls, message boxes, file choosers, the timer, painting.
class CSoundPlayer;

class CTrellonCore
{
public:
    static constexpr int kSpeedCount = 13;
    static constexpr int kTargetFpsCount = 16;
    static const double kSpeedFactors[kSpeedCount];
    static const int kTargetFps[kTargetFpsCount];
    static constexpr int kExportFormatCount = 4;
    static const char* const kExportExtensions[kExportFormatCount];
    // The timer period for a target FPS list index, in milliseconds.
    static unsigned TimerPeriodMs(int fpsIndex);

    // `journalFolder`: where recordings are journalled against a crash;
    // empty: not at all. `exporter`: the video export, where the build has
    // one.
    CTrellonCore(ITrellonWindow& window, std::string journalFolder,
                 VideoExporter exporter = nullptr);
    ~CTrellonCore();
    CTrellonCore(const CTrellonCore&) = delete;
    CTrellonCore& operator=(const CTrellonCore&) = delete;

    // The dialog's initialisation, once its controls exist; `commandLine` is
    // the program's arguments after the options, as one text.
    void OnInitDialog(const std::string& commandLine);
    // Data exchange between the members and the controls.
    void DoDataExchange(bool fromControls);
    void UpdateControls();
    // The window title: the live status, then the program's name. While
    // recording the elapsed time, frames and dropped ticks, at most a few
    // times a second unless `now`; otherwise the video's file name, marked
    // when unsaved; the name alone for a new empty video.
    void UpdateTitle(bool now = true);
    int GrabFrame();
    void UpdateByteCount();
    void ShowFrame();
    int LoadVideo(const std::string& path);
    int ClearVideo();
    // Saves the video to `path` and takes it as the video's file; false with
    // the system's reason.
    bool SaveTo(const std::string& path, std::string& reason);
    // Offers the journals of recordings an earlier run never saved.
    void OfferRecovery();

    // Handlers of the controls, the timer, the system menu and the window.
    void OnTimer();
    void OnRecord();
    void OnPlay();
    void OnPause();
    void OnSpeedChange(int index);
    void OnHScroll();
    void OnSysCommand(int id);
    void OnGetFrame();
    void OnSave();
    void OnLoad();
    void OnClear();
    void OnDropFiles(const std::vector<std::string>& paths);
    void OnVideoInfo();
    void OnShowCursor();
    void OnDetachVideo();
    // The detached window is going: the video area shows the picture again.
    void OnViewClosed();
    void OnExtract();
    // Exports the video as a video file (context menu and Ctrl+E).
    void OnExport();
    bool CanExport() const;
    // Pauses or resumes a recording: the video stays open, the timer stops,
    // the paused time is left out of the time line.
    void OnPauseRecording();
    // Whether the next recording records the game's sound (on by default;
    // the context menu's "Record Sound"). Not while recording.
    void OnRecordSound();
    bool IsRecordSoundOn() const { return m_bRecordSound; }
    bool CanChangeRecordSound() const { return m_bRecording == 0; }
    // Playback's sound muted or not (the context menu's "Mute Sound", M).
    void OnMute();
    bool IsMuted() const { return m_bMuted; }
    // Whether the recording's sound is being played now.
    bool IsSoundPlaying() const;
    // One command from another process ("toggle", "pause", "save PATH"):
    // "ok" or why not.
    std::string RunCommand(const std::string& line);
    // Tells once which global hotkeys another program holds.
    void ReportTakenHotkeys(const std::vector<int>& taken);
    // A global hotkey was pressed (a PlatformHotkey).
    void OnHotkey(int hotkey);
    // The close request: false when the person chose to keep the program.
    bool OnClose();
    // The paint of the video: a playback step while playing, then ShowFrame
    // when the picture must be fetched anew. Nothing before the dialog's
    // initialisation, whose first data exchange sets the check boxes a
    // ShowFrame reads (a window may paint as soon as it is shown).
    void OnPaint();
    // A paint is wanted: the next one fetches the frame again.
    void InvalidateVideo();

    CVideoManager& GetManager() const { return *m_pManager; }
    bool IsRecording() const { return m_bRecording != 0; }
    bool IsPaused() const { return m_bPaused != 0; }
    bool IsPlaying() const { return m_bPlaying != 0; }
    double GetPlayTime() const { return m_dPlayTime; }
    double GetSpeed() const { return m_dSpeed; }
    unsigned GetTimerPeriodMs() const { return m_nTimerPeriodMs; }
    // The wait before the next playback paint that the last one asked for.
    int GetNextPaintDelayMs() const { return m_nNextPaintMs; }
    // Ticks missed since recording started: dropped by the re-entrancy
    // guard, or never delivered because the previous tick ran late.
    std::int64_t GetDroppedTicks() const { return m_nDroppedTicks; }
    const std::string& GetFileName() const { return m_strFileName; }

private:
    void PlaybackStep();
    std::string RunCommandLine(const std::string& line);
    // Plays the sound with the picture at normal speed, silent otherwise.
    void FollowWithSound();
    void StopSound();
    void ReportUnreadableGame();
    void ReportOutOfMemory();
    void ReportGameSizeChange();

    ITrellonWindow& m_window;
    std::unique_ptr<CVideoManager> m_pManager;
    VideoExporter m_exporter;
    std::string m_strJournalFolder;

    std::int64_t m_nBytes = 0;
    std::string m_strTickTime;
    std::string m_strVersion;
    int m_bRecording = 0;
    int m_bPaused = 0;
    bool m_bInitialised = false; // the first data exchange into the controls is done
    double m_dSpeed = 1.0;
    std::int64_t m_lastCounter = 0;
    int m_nNextPaintMs = 0;
    double m_dPlayTime = 0;
    std::int64_t m_frequency = 1;
    int m_bPlaying = 0;
    unsigned m_nTimerPeriodMs = 0;
    std::string m_strShownProblem; // the unreadable-game reason last told
    bool m_bToldOutOfMemory = false;
    bool m_bToldJournalProblem = false;
    bool m_bToldSoundProblem = false;
    bool m_bRemoteCommand = false; // a command of another process (or a hotkey) runs
    bool m_bRecordSound = true;
    bool m_bMuted = false;
    bool m_bNoSoundOutput = false; // the output failed: playback stays silent
    std::unique_ptr<CSoundPlayer> m_pPlayer;
    bool m_bFrameDue = false;  // the next paint fetches the frame again
    std::string m_strFileName; // the file the video was loaded from or saved to
    int m_nLastFirst = 0;      // the fragment numbers last used (1-based); 0: none
    int m_nLastEnd = 0;
    std::int64_t m_nDroppedTicks = 0;
    std::int64_t m_lastTickCounter = 0;  // when the last tick came
    std::int64_t m_lastTitleCounter = 0; // when the recording status was last shown
};
