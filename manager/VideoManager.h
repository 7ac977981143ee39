#pragma once

#include "capture/Capture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CBitmap8Group;
class CJournalWriter;
class CSoundRecorder;
class CGameLayout;
class CProcess;
class CVideo;

// Cuts the sound of frames first..last (0-based, inclusive) of `source`
// into `fragment`, the video ExtractTo made of them: from the first frame's
// time to the next frame's after the last. False, with the reason, when
// the sound could not be cut (a damaged block, no memory).
bool CutFragmentSound(const CVideo& source, int first, int last, CVideo& fragment,
                      std::string& problem);

// The one object that owns the game process, the address table, the sheets,
// the frame buffer and the current video. The frame buffer serves two uses
// one after the other on one thread: the capture reads the game's picture
// into its start, the display writes a bitmap header, a colour table and the
// decoded picture into it. The video is never emptied in place: clearing,
// loading and cutting a fragment each put a new video in place of the old.
class CVideoManager
{
public:
    static constexpr std::size_t kFrameBufferBytes = 2075600;
    static constexpr std::size_t kDisplayHeaderBytes = ::kDisplayHeaderBytes;

    CVideoManager();
    virtual ~CVideoManager();
    CVideoManager(const CVideoManager&) = delete;
    CVideoManager& operator=(const CVideoManager&) = delete;

    void NewVideo();
    // Saves the current video: 1 when the whole file was written, and the
    // journal, which it makes redundant, is deleted; else 0 with the
    // system's reason in `reason` when one is given.
    int SaveVideo(const std::string& path, std::string* reason = nullptr);
    // Replaces the video by frames first..last (0-based, inclusive) of it.
    // 0, keeping the current video, when memory ran out or `progress`
    // (frames done, frames in all) returned false.
    int ExtractFragment(int first, int last, const std::function<bool(int, int)>& progress = {});
    float GetFrameTime(int index) const;

    // The load sequence's last step: take the (possibly partly) loaded
    // video's picture size, growing the frame buffer once if a large video
    // needs it. `video` becomes the current video.
    void InstallLoadedVideo(std::unique_ptr<CVideo> video);

    // One capture tick (the capture subsystem's CaptureTick): 0 when no
    // running game could be attached, 1 otherwise; raises
    // std::runtime_error(kErrCapture) on a failed read.
    int CaptureFrame();
    // Frame `index` prepared for painting (PrepareDisplayFrame); raises
    // std::runtime_error(kErrDisplayFrame) on a failed read of the game.
    DisplayFrame GetFrame(int index);

    CVideo& GetVideo() const { return *m_pVideo; }
    CProcess& GetProcess() const { return *m_pProcess; }
    CGameLayout& GetLayout() const { return *m_pLayout; }
    const CBitmap8Group& GetFont1() const { return *m_pFont1; }
    const CBitmap8Group& GetFont2() const { return *m_pFont2; }
    const CBitmap8Group& GetUnits() const { return *m_pUnits; }
    // The file names of the sheets that did not load (they have no cells),
    // in the order font1.bmp, font2.bmp, units.bmp; empty when all did. What
    // the dialog and `trellon record` warn about when the statistics are on.
    std::vector<std::string> GetMissingSheets() const;
    std::uint8_t* GetFrameBuffer() const { return m_pFrame.get(); }
    std::size_t GetFrameBufferBytes() const { return m_nFrameBytes; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    // The recording journal (see CJournalWriter): with a folder set, the
    // first frame of every video opens a journal there, and every frame the
    // capture adds is appended to it. Empty turns journalling off.
    void SetJournalFolder(const std::string& folder) { m_strJournalFolder = folder; }
    // Where journals live by default: $XDG_STATE_HOME/trellonhd (by default
    // ~/.local/state/trellonhd), %LOCALAPPDATA%\TrellonHD on Windows.
    static std::string DefaultJournalFolder();
    // The journal being written, empty when none.
    std::string GetJournalPath() const;
    // Why the recording is no longer journalled (the folder can't be written,
    // the disk is full); empty while all is well or nothing is journalled.
    const std::string& GetJournalProblem() const { return m_strJournalProblem; }
    // Deletes the journal: the recording is saved, or the user gave it up.
    void DiscardJournal();
    // Takes the journal at `path` (of an earlier run, recovered into the
    // current video) as this video's: DiscardJournal deletes it, while
    // anything else keeps it for the next start.
    void AdoptJournal(const std::string& path) { m_strAdoptedJournal = path; }
    // Closes the journal and keeps it, as a crash would.
    void CloseJournal();

    // True after a capture whose frame could not be stored for lack of memory.
    bool RanOutOfMemory() const { return m_bOutOfMemory; }
    // True after a capture that found the game at another picture size than
    // that of the video's frames; nothing was recorded. A new (empty) video
    // takes the game's size at the next capture.
    bool GameSizeChanged() const { return m_bGameSizeChanged; }
    // The picture size the game reported at the last capture that read it.
    int GetGameWidth() const { return m_nGameWidth; }
    int GetGameHeight() const { return m_nGameHeight; }

    // A recording's pause, its end, as the recorders (the dialog, `trellon
    // record`) see them: the time line leaves out the paused time, and so
    // does the sound.
    void PauseRecording();
    void ResumeRecording(double gapSeconds);
    // The recording ended: the rest of its sound goes into the video (and
    // the journal), and the sound capture stops.
    void StopRecording();

    // Whether the game's sound is recorded with the next recording (on by
    // default; the dialog's switch and `trellon record --no-sound`).
    std::int32_t m_bRecordSound = 1;
    enum class SoundState
    {
        Off,         // not recording sound (switched off, or no recording)
        Unavailable, // this system can't record the game's sound: GetSoundProblem says why
        Waiting,     // recording; the game plays no sound yet
        Recording,   // the game's sound is being recorded
    };
    SoundState GetSoundState() const;
    // What the title and `trellon record`'s progress line say of it while
    // recording, with sound switched on or off: "sound", "sound (none
    // yet)" or "no sound".
    static const char* SoundStatusText(SoundState state, bool switchedOn);
    // Why there is no sound (or why some was lost); empty while all is well.
    std::string GetSoundProblem() const;

    // The dialog's check boxes "S&tats", "+" and "S&how Cursor".
    std::int32_t m_bShowStats = 0;
    std::int32_t m_bShowPlus = 0;
    std::int32_t m_bShowCursor = 1;

    // Where a sheet file is found: the working directory first, then beside
    // the program, then in share/trellonhd next to the program's folder.
    static std::string FindDataFile(const std::string& name);

    // The statistics panel and the unit markers (the capture subsystem's
    // DrawOverlay and DrawUnitMarker), drawn into the frame buffer by the
    // capture on the in-game screen of v2.0.2.0. Reads raise as the
    // capture's do.
    void DrawOverlay(std::uint32_t& cursor);
    void DrawUnitMarker(const UnitRecord& record, std::uint32_t unit, int type, bool counted,
                        int viewX, int viewY);
    const PanelState& GetPanel() const { return m_panel; }
    const TeamMemory& GetTeamMemory() const { return m_teamMemory; }

private:
    bool GrowFrameBuffer(std::size_t bytes);
    // The parts the capture subsystem works on, with the switches as they are.
    CaptureParts MakeCaptureParts();

    // In the order they are built: size, process, frame buffer, sheets,
    // layout, then the video.
    std::int32_t m_nWidth = 640;
    std::int32_t m_nHeight = 480;
    std::unique_ptr<CProcess> m_pProcess;
    std::unique_ptr<std::uint8_t[]> m_pFrame;
    std::size_t m_nFrameBytes = 0;
    std::unique_ptr<CBitmap8Group> m_pFont1;
    std::unique_ptr<CBitmap8Group> m_pFont2;
    std::unique_ptr<CBitmap8Group> m_pUnits;
    std::unique_ptr<CGameLayout> m_pLayout;
    std::unique_ptr<CVideo> m_pVideo;
    void JournalFrame(std::int32_t nodesBefore, std::int32_t palettesBefore);
    // Sound: started with a recording's first frame, following the game's
    // process; its finished blocks move into the video at every tick.
    void FollowGameSound();
    void TakeSound();
    void DropSound();
    std::unique_ptr<CSoundRecorder> m_pSound;
    std::uint32_t m_nSoundPid = 0;
    std::size_t m_nSoundJournalled = 0; // blocks of the track in the journal
    std::string m_strSoundProblem;

    bool m_bOutOfMemory = false;
    std::unique_ptr<CJournalWriter> m_pJournal;
    std::string m_strJournalFolder;
    std::string m_strJournalProblem;
    std::string m_strAdoptedJournal;
    bool m_bGameSizeChanged = false;
    std::int32_t m_nGameWidth = 0;
    std::int32_t m_nGameHeight = 0;
    PanelState m_panel;      // the last overlay call's reading of the game
    TeamMemory m_teamMemory; // kept for the program's whole run
};
