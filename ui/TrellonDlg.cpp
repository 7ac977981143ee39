#include "TrellonDlg.h"

#include "AboutDlg.h"
#include "Bitmap8Group.h"
#include "ExtractDlg.h"
#include "GameLayout.h"
#include "Process.h"
#include "ResizableView.h"
#include "TrellonApp.h"
#include "Video.h"
#include "VideoArea.h"
#include "VideoManager.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimerEvent>
#include <QUrl>
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

const double CTrellonDlg::kSpeedFactors[kSpeedCount] = {0.125, 0.25, 0.5, 1.0, 1.5,  2.0, 2.5,
                                                        3.0,   4.0,  5.0, 7.5, 10.0, 15.0};
const int CTrellonDlg::kTargetFps[kTargetFpsCount] = {1,  2,  3,  4,  5,  6,  8,  10,
                                                      12, 15, 18, 20, 25, 30, 40, 100};

unsigned CTrellonDlg::TimerPeriodMs(int fpsIndex)
{
    if (fpsIndex < 0 || fpsIndex >= kTargetFpsCount)
        fpsIndex = 13; // no selection: the default, 30
    return 1000u / static_cast<unsigned>(kTargetFps[fpsIndex]);
}

CTrellonDlg::CTrellonDlg(const QString& commandLine, UiServices services, QWidget* parent)
    : QDialog(parent), m_hIcon(CTrellonApp::LoadIcon()),
      m_pManager(std::make_unique<CVideoManager>()), m_services(std::move(services)),
      m_strCommandLine(commandLine)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    m_nextPaint.setSingleShot(true);
    m_nextPaint.setTimerType(Qt::PreciseTimer);
    connect(&m_nextPaint, &QTimer::timeout, this, &CTrellonDlg::InvalidateVideo);
    m_pManager->SetJournalFolder(QFile::encodeName(m_services.journalFolder).toStdString());
    CreateControls();
    DoDataExchange(false);
}

CTrellonDlg::~CTrellonDlg()
{
    // The detached window first: it clears m_pView on its way out.
    delete m_pView;
    m_pManager.reset();
}

int CTrellonDlg::DoModal()
{
    show();
    OnInitDialog();
    return exec();
}

bool CTrellonDlg::OnInitDialog()
{
    // The window system's menu can't be extended here; the About item lives
    // in the dialog's context menu (and on F1) instead.
    setWindowIcon(m_hIcon);
    UpdateControls();
    m_cbSpeed->setCurrentIndex(3);
    OnSpeedChange(3);
    m_cbTargetFps->setCurrentIndex(13);
    m_frequency = m_services.counterFrequency > 0 ? m_services.counterFrequency : 1;
    OfferRecovery();
    if (!m_strCommandLine.isEmpty())
    {
        QString path = m_strCommandLine;
        path.remove(QLatin1Char('"'));
        // A file that could not be read leaves an empty video, as any
        // failed load does, not the part of it that was read.
        if (!path.isEmpty() && !LoadVideo(path))
            ClearVideo();
    }
    UpdateByteCount(); // the empty video's size, as after any clearing
    return true;
}

void CTrellonDlg::DoDataExchange(bool fromControls)
{
    if (fromControls)
    {
        m_pManager->m_bShowCursor = m_pShowCursor->isChecked() ? 1 : 0;
        m_pManager->m_bShowStats = m_pStats->isChecked() ? 1 : 0;
        m_pManager->m_bShowPlus = m_pPlus->isChecked() ? 1 : 0;
        return;
    }
    m_pBytes->setText(QString::number(m_nBytes));
    m_pTickTime->setText(m_strTickTime);
    m_pVersion->setText(m_strVersion);
    m_pShowCursor->setChecked(m_pManager->m_bShowCursor != 0);
    m_pStats->setChecked(m_pManager->m_bShowStats != 0);
    m_pPlus->setChecked(m_pManager->m_bShowPlus != 0);
}

QMessageBox::StandardButton CTrellonDlg::Message(const QString& caption, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::Icon icon, bool owned)
{
    return m_services.messageBox(owned ? this : nullptr, caption, text, buttons, icon);
}

void CTrellonDlg::UpdateControls()
{
    m_pRecord->setText(m_bRecording ? QStringLiteral("Stop Recording")
                                    : QStringLiteral("Start Recording"));
    // Extract too: it would put a fragment in place of the video being
    // recorded, which the next ticks would go on into.
    for (int id : {IDC_GET_FRAME, IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_EXTRACT})
        GetDlgItem(id)->setEnabled(!m_bRecording);
    m_pRecord->setEnabled(m_pManager->GetVideo().IsAppendable());
    UpdateTitle();
}

int CTrellonDlg::GetSliderPos() const
{
    return m_slider->value();
}
int CTrellonDlg::GetSliderMax() const
{
    return m_slider->maximum();
}

// The slider reports only what the person does to it; the program's own
// moves are silent, as a trackbar's are.
void CTrellonDlg::SetSliderPos(int position)
{
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(position);
}

void CTrellonDlg::SetSliderRange(int maximum)
{
    const QSignalBlocker quiet(m_slider);
    m_slider->setRange(0, maximum < 0 ? 0 : maximum);
}

// The video area's paint is the playback loop's step; the controls repaint
// themselves when what they show changes.
void CTrellonDlg::InvalidateVideo()
{
    m_bFrameDue = true;
    // A minimised dialog gets no paints: the detached window carries on.
    if (m_pView != nullptr && isMinimized())
        m_pView->update();
    else
        m_pArea->update();
}

// The shown picture looks at the frame buffer until something else is put
// there: then it takes a copy of its own, once, so that the window keeps
// what it showed.
void CTrellonDlg::KeepDisplayImage()
{
    if (m_displayImage.constBits() ==
        m_pManager->GetFrameBuffer() + CVideoManager::kDisplayHeaderBytes)
        m_displayImage = m_displayImage.copy();
}

// ---------------------------------------------------------------------------
// The recording loop

void CTrellonDlg::OnRecord()
{
    const int wasRecording = m_bRecording;
    m_bRecording = !m_bRecording;
    m_bPaused = 0; // a paused recording ends as any other
    if (wasRecording)
    {
        if (m_nTimerId != 0)
            killTimer(m_nTimerId);
        m_nTimerId = 0;
        if (m_pManager->GetVideo().GetFrameCount() >= 1)
            m_pManager->GetVideo().SetAppendable(false);
    }
    else
    {
        m_nTimerPeriodMs = TimerPeriodMs(m_cbTargetFps->currentIndex());
        m_nDroppedTicks = 0;
        m_lastTickCounter = m_services.counter();
        if (m_nTimerId != 0)
            killTimer(m_nTimerId);
        m_nTimerId = startTimer(std::chrono::milliseconds(m_nTimerPeriodMs), Qt::PreciseTimer);
        if (m_nTimerId == 0)
            m_bRecording = 0;
    }
    UpdateControls();
}

void CTrellonDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_nTimerId)
        OnTimer();
    else
        QDialog::timerEvent(event);
}

void CTrellonDlg::OnTimer()
{
    // Ticks the timer never delivered because the last one ran late: the
    // timer fires once after a delay, however many periods it spanned.
    const std::int64_t now = m_services.counter();
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

int CTrellonDlg::GrabFrame()
{
    DoDataExchange(true);
    const std::int64_t start = m_services.counter();
    KeepDisplayImage(); // the capture writes the game's picture over it
    try
    {
        if (!m_pManager->CaptureFrame())
        {
            m_strVersion = QStringLiteral("war2 not detected");
            DoDataExchange(false);
            ReportUnreadableGame();
            return 0;
        }
        m_strShownProblem.clear();
        const int kind = m_pManager->GetLayout().GetKind();
        if (kind != s_nLastKind)
        {
            s_nLastKind = kind;
            const QString text = QString::fromLatin1(GameKindText(kind));
            if (m_strVersion != text)
            {
                m_strVersion = text;
                DoDataExchange(false);
            }
            if (m_pManager->m_bShowStats || m_pManager->m_bShowPlus)
            {
                const CBitmap8Group* sheets[] = {&m_pManager->GetFont1(), &m_pManager->GetFont2(),
                                                 &m_pManager->GetUnits()};
                const char* const names[] = {"font1.bmp", "font2.bmp", "units.bmp"};
                for (int n = 0; n < 3; ++n)
                    if (sheets[n]->GetCellCount() == 0)
                        Message(QStringLiteral("error loading file"),
                                QStringLiteral("File %1 have not been loaded")
                                    .arg(QLatin1String(names[n])),
                                QMessageBox::Ok, QMessageBox::NoIcon, false);
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
        Message(QStringLiteral("Error"),
                QStringLiteral("The recording goes on, but it is no longer protected against a "
                               "crash:\n") +
                    QString::fromLocal8Bit(m_pManager->GetJournalProblem().c_str()),
                QMessageBox::Ok, QMessageBox::Warning);
    }

    SetSliderRange(m_pManager->GetVideo().GetFrameCount() - 1);
    UpdateByteCount();
    ShowFrame();
    const std::int64_t end = m_services.counter();
    m_strTickTime = QString::asprintf("%f sec", static_cast<double>(end - start) /
                                                    static_cast<double>(m_frequency));
    DoDataExchange(false);
    UpdateTitle(false);
    return 1;
}

// The game's window is there but its memory can't be read: say why once,
// instead of only "war2 not detected" at every tick.
void CTrellonDlg::ReportUnreadableGame()
{
    const QString problem = QString::fromStdString(m_pManager->GetProcess().GetProblem());
    if (problem.isEmpty() || problem == m_strShownProblem)
        return;
    m_strShownProblem = problem;
    Message(QStringLiteral("Error"),
            QStringLiteral("The game's window was found, but TrellonHD can't read the game's "
                           "memory.\n") +
                problem,
            QMessageBox::Ok, QMessageBox::Warning);
}

// A frame that found no memory is lost; stop before more are, so that what
// was recorded can be saved.
void CTrellonDlg::ReportOutOfMemory()
{
    if (m_bRecording)
        OnRecord();
    if (m_bToldOutOfMemory)
        return;
    m_bToldOutOfMemory = true;
    Message(QStringLiteral("Error"),
            QStringLiteral("Not enough memory for more frames: the recording was stopped.\n"
                           "The frames recorded so far are kept; save them now."),
            QMessageBox::Ok, QMessageBox::Warning);
}

// The game came back at another picture size. A video keeps the size of its
// frames, so the recording ends here with every frame kept; a new recording
// (after Clear) takes the new size.
void CTrellonDlg::ReportGameSizeChange()
{
    if (m_bRecording)
        OnRecord();
    const CVideo& video = m_pManager->GetVideo();
    Message(QStringLiteral("Error"),
            QStringLiteral("The game's picture changed from %1 x %2 to %3 x %4: the recording "
                           "was stopped.\nThe %5 frames recorded so far are kept; save them, "
                           "then Clear to record at the new size.")
                .arg(video.GetWidth())
                .arg(video.GetHeight())
                .arg(m_pManager->GetGameWidth())
                .arg(m_pManager->GetGameHeight())
                .arg(video.GetFrameCount()),
            QMessageBox::Ok, QMessageBox::Warning);
}

void CTrellonDlg::UpdateByteCount()
{
    DoDataExchange(true);
    m_nBytes = m_pManager->GetVideo().GetBodySize();
    DoDataExchange(false);
}

// ---------------------------------------------------------------------------
// The playback loop

// A paint that only uncovers the area draws the prepared picture again; the
// frame is fetched anew while playing, when something asked for it, or when
// there is no picture yet. A capture tick, which shows its frame itself, is
// then not followed by a second decode.
void CTrellonDlg::OnPaint(QWidget* painting)
{
    // The window being painted draws the new picture itself, right after:
    // asking it for another paint would paint on and on.
    m_pPainting = painting;
    const bool playing = m_bPlaying != 0;
    if (playing)
        PlaybackStep();
    if (playing || m_bFrameDue || m_displayImage.isNull())
        ShowFrame();
    m_pPainting = nullptr;
}

void CTrellonDlg::PlaybackStep()
{
    const std::int64_t now = m_services.counter();
    const std::int64_t step = now - m_lastCounter;
    m_lastCounter = now;
    m_dPlayTime += (static_cast<double>(step) / static_cast<double>(m_frequency)) * m_dSpeed;
    const int count = m_pManager->GetVideo().GetFrameCount();
    int i = GetSliderPos();
    while (i < count && static_cast<double>(m_pManager->GetFrameTime(i)) < m_dPlayTime)
        ++i;
    if (i >= count)
    {
        i = 0;
        m_bPlaying = 0;
    }
    SetSliderPos(i);
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
        m_nextPaint.start(m_nNextPaintMs);
}

void CTrellonDlg::OnPlay()
{
    if (m_bRecording || m_pManager->GetVideo().GetFrameCount() < 1)
        return;
    m_dPlayTime = static_cast<double>(m_pManager->GetFrameTime(GetSliderPos()));
    m_lastCounter = m_services.counter();
    InvalidateVideo();
    m_bPlaying = 1;
}

void CTrellonDlg::OnPause()
{
    m_bPlaying = 0;
    m_nextPaint.stop();
}

void CTrellonDlg::OnSpeedChange(int index)
{
    if (index < 0 || index >= kSpeedCount)
        return;
    m_dSpeed = kSpeedFactors[index];
    InvalidateVideo();
}

void CTrellonDlg::OnHScroll()
{
    if (GetSliderPos() != s_nLastSliderPos)
    {
        InvalidateVideo();
        s_nLastSliderPos = GetSliderPos();
    }
    if (m_bPlaying)
        OnPlay();
}

// ---------------------------------------------------------------------------
// The window

void CTrellonDlg::OnSysCommand(int id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX)
    {
        CAboutDlg about(this);
        m_services.runModal(about);
    }
}

void CTrellonDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* exportVideo = menu.addAction(tr("&Export..."));
    exportVideo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportVideo->setEnabled(!m_bRecording && m_pManager->GetVideo().GetFrameCount() > 0);
    QAction* about = menu.addAction(tr("&About TrellonHD..."));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == about)
        OnSysCommand(IDM_ABOUTBOX);
    else if (chosen == exportVideo)
        OnExport();
}

bool CTrellonDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (PreTranslateMessage(watched, event))
        return true;
    return QDialog::eventFilter(watched, event);
}

bool CTrellonDlg::PreTranslateMessage(QObject*, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)
        return true;
    if (key == Qt::Key_F1)
    {
        OnSysCommand(IDM_ABOUTBOX);
        return true;
    }
    if (key == Qt::Key_E && static_cast<QKeyEvent*>(event)->modifiers() == Qt::ControlModifier)
    {
        OnExport();
        return true;
    }
    return false;
}

void CTrellonDlg::closeEvent(QCloseEvent* event)
{
    if (OnClose())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

bool CTrellonDlg::OnClose()
{
    if (m_pManager->GetVideo().IsSaved())
        return true;
    m_bPlaying = 0;
    if (Message(QStringLiteral("Closing application"),
                QStringLiteral("You have some unsaved frames, exit anyway?"),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) != QMessageBox::Yes)
        return false;
    m_pManager->DiscardJournal(); // the person gave the frames up
    return true;
}

void CTrellonDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CTrellonDlg::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    event->acceptProposedAction();
    if (!paths.isEmpty())
        OnDropFiles(paths);
}
