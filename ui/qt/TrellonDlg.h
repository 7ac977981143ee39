#pragma once

#include "ui/core/TrellonCore.h"
#include "ui/qt/UiServices.h"

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

// The program's one window on Linux: the Qt front end of the dialog's logic
// (CTrellonCore), which owns the video manager and runs the recording and
// playback loops. This class gives the logic its controls, laid out as the
// dialog template gives them, the toolkit's message boxes and file dialogs,
// a precise timer, and painting: a frame is painted from the manager's frame
// buffer through an indexed image that looks at the buffer itself, by the
// video area or by the detached window.
class CTrellonDlg : public QDialog, public ITrellonWindow
{
    Q_OBJECT

public:
    static constexpr int kSpeedCount = CTrellonCore::kSpeedCount;
    static constexpr int kTargetFpsCount = CTrellonCore::kTargetFpsCount;
    static unsigned TimerPeriodMs(int fpsIndex) { return CTrellonCore::TimerPeriodMs(fpsIndex); }

    // `commandLine` is the program's arguments after the options, as one text.
    explicit CTrellonDlg(const QString& commandLine = {},
                         UiServices services = UiServices::Standard(), QWidget* parent = nullptr);
    ~CTrellonDlg() override;
    CTrellonDlg(const CTrellonDlg&) = delete;
    CTrellonDlg& operator=(const CTrellonDlg&) = delete;

    // Shows the dialog, initialises it and runs it until it closes.
    int DoModal();
    bool OnInitDialog();

    // The dialog's logic and what it does, by the names the dialog's
    // handlers have.
    CTrellonCore& Core() { return m_core; }
    void UpdateControls() { m_core.UpdateControls(); }
    void UpdateTitle(bool now = true) { m_core.UpdateTitle(now); }
    std::int64_t GetDroppedTicks() const { return m_core.GetDroppedTicks(); }
    int GrabFrame() { return m_core.GrabFrame(); }
    void UpdateByteCount() { m_core.UpdateByteCount(); }
    void ShowFrame() { m_core.ShowFrame(); }
    int LoadVideo(const QString& path);
    int ClearVideo() { return m_core.ClearVideo(); }
    bool SaveTo(const QString& path, QString& reason);
    void OnTimer() { m_core.OnTimer(); }
    void OnRecord() { m_core.OnRecord(); }
    void OnPlay() { m_core.OnPlay(); }
    void OnPause() { m_core.OnPause(); }
    void OnSpeedChange(int index) { m_core.OnSpeedChange(index); }
    void OnHScroll() { m_core.OnHScroll(); }
    void OnSysCommand(int id) { m_core.OnSysCommand(id); }
    void OnGetFrame() { m_core.OnGetFrame(); }
    void OnSave() { m_core.OnSave(); }
    void OnLoad() { m_core.OnLoad(); }
    void OnClear() { m_core.OnClear(); }
    void OnDropFiles(const QStringList& paths);
    void OnVideoInfo() { m_core.OnVideoInfo(); }
    void OnShowCursor() { m_core.OnShowCursor(); }
    void OnDetachVideo() { m_core.OnDetachVideo(); }
    // The detached window is going: the video area shows the picture again.
    void OnViewClosed() { m_core.OnViewClosed(); }
    void OnExtract() { m_core.OnExtract(); }
    void OnExport() { m_core.OnExport(); }
    void OnPauseRecording() { m_core.OnPauseRecording(); }
    bool IsPaused() const { return m_core.IsPaused(); }
    // Takes commands from other processes at the local socket `name`; false
    // when another TrellonHD already listens there.
    bool ListenForCommands(const QString& name);
    // One command ("toggle", "pause", "save PATH"); "ok" or why not.
    QString RunCommand(const QString& line);
    // Takes the global hotkeys Ctrl+Alt+R and Ctrl+Alt+P, which work while
    // the game has the focus; a key another program holds is told once.
    void ListenForHotkeys();
    void OnHotkey(int hotkey) { m_core.OnHotkey(hotkey); }
    // The close request: false when the person chose to keep the program.
    bool OnClose() { return m_core.OnClose(); }

    // The paint of the video area or of the detached window (`painting`): a
    // playback step while playing, then the frame shown.
    void OnPaint(QWidget* painting = nullptr);

    QWidget* GetDlgItem(int id) const { return m_controls.value(id, nullptr); }
    CVideoManager& GetManager() const { return m_core.GetManager(); }
    CResizableView* GetView() const { return m_pView; }
    bool IsRecording() const { return m_core.IsRecording(); }
    bool IsPlaying() const { return m_core.IsPlaying(); }
    double GetPlayTime() const { return m_core.GetPlayTime(); }
    int GetNextPaintDelayMs() const { return m_core.GetNextPaintDelayMs(); }
    double GetSpeed() const { return m_core.GetSpeed(); }
    unsigned GetTimerPeriodMs() const { return m_core.GetTimerPeriodMs(); }
    bool HasTimer() const { return m_nTimerId != 0; }
    // The picture last shown (over the frame buffer, or a copy kept when the
    // buffer was needed for something else); null before the first.
    const QImage* GetDisplayImage() const
    {
        return m_displayImage.isNull() ? nullptr : &m_displayImage;
    }
    // The same picture in colours, as the windows paint it; null with it.
    const QImage* GetShownImage() const
    {
        return m_displayImage.isNull() ? nullptr : &m_shownImage;
    }

    // What the dialog's logic asks of its window.
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enabled) override;
    bool IsItemChecked(int id) const override;
    void CheckItem(int id, bool checked) override;
    int GetListSelection(int id) const override;
    void SetListSelection(int id, int index) override;
    int GetSliderPos() const override;
    int GetSliderMax() const override;
    void SetSliderPos(int position) override;
    void SetSliderRange(int maximum) override;
    std::string ProgramName() const override;
    void SetTitle(const std::string& title) override;
    MsgAnswer Message(const std::string& caption, const std::string& text, MsgButtons buttons,
                      MsgIcon icon, bool owned) override;
    std::string ChooseVideoFile(bool forSaving) override;
    std::string ChooseExportFile(const std::string& extension) override;
    bool AskFragment(int& first, int& last) override;
    bool AskExport(int frames, ExportChoice& choice) override;
    void ShowAbout() override;
    std::unique_ptr<ILongTaskView> BeginLongTask(const std::string& text) override;
    bool StartTimer(unsigned periodMs) override;
    void StopTimer() override;
    std::int64_t Counter() override;
    std::int64_t CounterFrequency() override;
    void ShowPicture(const DisplayFrame& frame) override;
    void KeepPicture() override;
    bool HasPicture() const override { return !m_displayImage.isNull(); }
    void InvalidateVideo() override;
    void SchedulePaint(int delayMs) override;
    void CancelPaint() override;
    void OpenDetachedView() override;
    void SizeDetachedView(int width, int height) override;

protected:
    // The keyboard filter: Escape and Enter go nowhere.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The controls, laid out as the dialog template gives them, created
    // group by group in its (tab) order.
    void CreateControls();
    void CreateSliderAndCounters();
    void CreateButtons();
    void CreatePlaybackControls();
    void CreateRecordingSettings();
    // Files a control under its template id and name.
    void RegisterControl(QWidget* widget, int id, const char* objectName);
    // A push button of the template, with its id, caption, place and handler.
    QPushButton* AddButton(int id, const char* objectName, const QString& caption,
                           const QRect& place, void (CTrellonDlg::*handler)());

    QComboBox* m_cbTargetFps = nullptr;
    QComboBox* m_cbSpeed = nullptr;
    QSlider* m_slider = nullptr;
    QIcon m_hIcon;
    UiServices m_services;
    CTrellonCore m_core;
    int m_nTimerId = 0;
    QTimer m_nextPaint;             // asks for the next playback paint when its frame is due
    QWidget* m_pPainting = nullptr; // the window whose paint runs the playback step
    CResizableView* m_pView = nullptr;
    QString m_strCommandLine;
    QImage m_displayImage;
    QImage m_shownImage; // m_displayImage converted for painting
    QMap<int, QWidget*> m_controls;
    QString m_strProgramName; // the dialog's own caption, translated
    CVideoArea* m_pArea = nullptr;
    QPushButton* m_pRecord = nullptr;
};
