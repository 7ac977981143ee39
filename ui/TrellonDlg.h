#pragma once

#include "UiServices.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

class CResizableView;
class CVideoArea;
class CVideoManager;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

// Control ids of the main dialog; each control carries its id's name as its
// object name.
enum
{
    IDC_GET_FRAME = 1000,
    IDC_FRAME_SLIDER = 1001,
    IDC_BYTES = 1002,
    IDC_RECORD = 1003,
    IDC_FRAME_TEXT = 1005,
    IDC_TICK_TIME = 1006,
    IDC_SAVE = 1007,
    IDC_LOAD = 1008,
    IDC_TIME_TEXT = 1010,
    IDC_CLEAR = 1011,
    IDC_VIDEO_INFO = 1012,
    IDC_PLAY = 1013,
    IDC_PAUSE = 1014,
    IDC_SPEED = 1019,
    IDC_SHOW_CURSOR = 1020,
    IDC_TARGET_FPS = 1021,
    IDC_DETACH = 1022,
    IDC_EXTRACT = 1023,
    IDC_STATS = 1026,
    IDC_PLUS = 1027,
    IDC_VERSION = 1028,
};
inline constexpr int IDM_ABOUTBOX = 16;

// Values kept for the program's whole run.
extern int s_nLastKind;      // game kind last turned into text by GrabFrame
extern int s_bInTimer;       // a timer tick is running
extern int s_nLastSliderPos; // slider position last seen by the slider handler
extern int g_nDisplayWidth;  // size of the picture ShowFrame draws; changed
extern int g_nDisplayHeight; // only by loading a file
extern int s_bViewOpen;      // a detached video window exists

// The program's one window. It owns the video manager and runs both loops on
// the one thread: the recording loop on a precise timer whose ticks capture
// a frame each, and the playback loop driven by painting, where every paint
// of the video area advances the playback clock by the elapsed counter time
// times the speed, moves the slider to the first frame not before the clock
// and asks for the next paint. A frame is decoded into the manager's frame
// buffer once and painted from there, by the video area or by the detached
// window, through an indexed image that looks at the buffer itself.
class CTrellonDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kSpeedCount = 13;
    static constexpr int kTargetFpsCount = 16;
    static const double kSpeedFactors[kSpeedCount];
    static const int kTargetFps[kTargetFpsCount];
    // The timer period for a target FPS list index, in milliseconds.
    static unsigned TimerPeriodMs(int fpsIndex);

    // `commandLine` is the program's arguments after the options, as one text.
    explicit CTrellonDlg(const QString& commandLine = {},
                         UiServices services = UiServices::Standard(), QWidget* parent = nullptr);
    ~CTrellonDlg() override;
    CTrellonDlg(const CTrellonDlg&) = delete;
    CTrellonDlg& operator=(const CTrellonDlg&) = delete;

    // Shows the dialog, initialises it and runs it until it closes.
    int DoModal();
    bool OnInitDialog();

    void UpdateControls();
    // The window title's live status (TrellonDlgStatus.cpp): while recording
    // the elapsed time, frames and dropped ticks, at most a few times a
    // second unless `now`; otherwise the video's file name, marked when
    // unsaved.
    void UpdateTitle(bool now = true);
    // Ticks missed since recording started: dropped by the re-entrancy guard,
    // or never delivered because the previous tick ran late.
    std::int64_t GetDroppedTicks() const { return m_nDroppedTicks; }
    virtual int GrabFrame();
    void UpdateByteCount();
    void ShowFrame();
    int LoadVideo(const QString& path);
    int ClearVideo();
    // Saves the video to `path` and takes it as the video's file; false with
    // the system's reason.
    bool SaveTo(const QString& path, QString& reason);
    // Offers the journals of recordings an earlier run never saved
    // (TrellonDlgRecovery.cpp); part of the dialog's initialisation.
    void OfferRecovery();
    void SizeViewToVideo();

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
    void OnDropFiles(const QStringList& paths);
    void OnVideoInfo();
    void OnShowCursor();
    void OnDetachVideo();
    // The detached window is going: the video area shows the picture again.
    void OnViewClosed();
    void OnExtract();
    // Exports the video as a video file (TrellonDlgExport.cpp): context menu
    // and Ctrl+E.
    void OnExport();
    // Pauses or resumes a recording (TrellonDlgRemote.cpp): the video stays
    // open, the timer stops, the paused time is left out of the time line.
    void OnPauseRecording();
    bool IsPaused() const { return m_bPaused != 0; }
    // Takes commands from other processes at the local socket `name`; false
    // when another TrellonHD already listens there.
    bool ListenForCommands(const QString& name);
    // One command ("toggle", "pause", "save PATH"); "ok" or why not.
    QString RunCommand(const QString& line);
    // Takes the global hotkeys Ctrl+Alt+R and Ctrl+Alt+P, which work while
    // the game has the focus; a key another program holds is told once.
    void ListenForHotkeys();
    // A global hotkey was pressed (a PlatformHotkey).
    void OnHotkey(int hotkey);
    // The close request: false when the person chose to keep the program.
    bool OnClose();

    // The paint of the video area: a playback step while playing, then
    // ShowFrame.
    void OnPaint(QWidget* painting = nullptr);
    void PlaybackStep();

    QWidget* GetDlgItem(int id) const { return m_controls.value(id, nullptr); }
    CVideoManager& GetManager() const { return *m_pManager; }
    CResizableView* GetView() const { return m_pView; }
    bool IsRecording() const { return m_bRecording != 0; }
    bool IsPlaying() const { return m_bPlaying != 0; }
    double GetPlayTime() const { return m_dPlayTime; }
    // The wait before the next playback paint that the last one asked for.
    int GetNextPaintDelayMs() const { return m_nNextPaintMs; }
    double GetSpeed() const { return m_dSpeed; }
    unsigned GetTimerPeriodMs() const { return m_nTimerPeriodMs; }
    bool HasTimer() const { return m_nTimerId != 0; }
    int GetSliderPos() const;
    int GetSliderMax() const;
    void SetSliderPos(int position);
    void SetSliderRange(int maximum);
    // The picture last prepared by ShowFrame (over the frame buffer, or a
    // copy kept when the buffer was needed for something else); null before
    // the first.
    const QImage* GetDisplayImage() const
    {
        return m_displayImage.isNull() ? nullptr : &m_displayImage;
    }

protected:
    // Data exchange between the members and the controls.
    void DoDataExchange(bool fromControls);
    // The keyboard filter: Escape and Enter go nowhere.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    QMessageBox::StandardButton Message(const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon = QMessageBox::NoIcon,
                                        bool owned = true);
    void ReportUnreadableGame();
    void ReportOutOfMemory();
    void ReportGameSizeChange();

    void InvalidateVideo();
    void KeepDisplayImage();

    QComboBox* m_cbTargetFps = nullptr;
    QComboBox* m_cbSpeed = nullptr;
    QSlider* m_slider = nullptr;
    std::int64_t m_nBytes = 0;
    QString m_strTickTime;
    QString m_strVersion;
    QIcon m_hIcon;
    std::unique_ptr<CVideoManager> m_pManager;
    int m_bRecording = 0;
    int m_bPaused = 0;
    int m_nTimerId = 0;
    double m_dSpeed = 1.0;
    std::int64_t m_lastCounter = 0;
    QTimer m_nextPaint;             // asks for the next playback paint when its frame is due
    int m_nNextPaintMs = 0;         // the delay it was last started with
    QWidget* m_pPainting = nullptr; // the window whose paint runs the playback step
    double m_dPlayTime = 0;
    std::int64_t m_frequency = 1;
    int m_bPlaying = 0;
    CResizableView* m_pView = nullptr;

    UiServices m_services;
    QString m_strCommandLine;
    unsigned m_nTimerPeriodMs = 0;
    QString m_strShownProblem; // the unreadable-game reason last told
    bool m_bToldOutOfMemory = false;
    bool m_bToldJournalProblem = false;
    QImage m_displayImage;
    bool m_bFrameDue = false; // the next paint fetches the frame again
    QMap<int, QWidget*> m_controls;
    QString m_strTitle;    // the dialog's own caption, without a status
    QString m_strFileName; // the file the video was loaded from or saved to
    int m_nLastFirst = 0;  // the fragment numbers last used (1-based); 0: none
    int m_nLastEnd = 0;
    std::int64_t m_nDroppedTicks = 0;
    std::int64_t m_lastTickCounter = 0;  // when the last tick came
    std::int64_t m_lastTitleCounter = 0; // when the recording status was last shown
    CVideoArea* m_pArea = nullptr;
    QLabel* m_pFrameText = nullptr;
    QLabel* m_pTimeText = nullptr;
    QLineEdit* m_pBytes = nullptr;
    QLineEdit* m_pTickTime = nullptr;
    QLineEdit* m_pVersion = nullptr;
    QPushButton* m_pRecord = nullptr;
    QCheckBox* m_pShowCursor = nullptr;
    QCheckBox* m_pStats = nullptr;
    QCheckBox* m_pPlus = nullptr;
};
