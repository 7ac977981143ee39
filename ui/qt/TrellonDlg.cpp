#include "ui/qt/TrellonDlg.h"

#include "manager/VideoManager.h"
#include "ui/core/FfmpegExporter.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/DisplayImage.h"
#include "ui/qt/ExportDlg.h"
#include "ui/qt/ExtractDlg.h"
#include "ui/qt/LongTask.h"
#include "ui/qt/ResizableView.h"
#include "ui/qt/TrellonApp.h"
#include "ui/qt/VideoArea.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimerEvent>
#include <QUrl>
#include <chrono>

namespace
{
std::string Narrow(const QString& text)
{
    return text.toUtf8().toStdString();
}
QString ToQString(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

CTrellonDlg::CTrellonDlg(const QString& commandLine, UiServices services, QWidget* parent)
    : QDialog(parent), m_hIcon(CTrellonApp::LoadIcon()), m_services(std::move(services)),
      m_core(*this, Narrow(m_services.journalFolder), ExportThroughFfmpeg),
      m_strCommandLine(commandLine)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    m_nextPaint.setSingleShot(true);
    m_nextPaint.setTimerType(Qt::PreciseTimer);
    connect(&m_nextPaint, &QTimer::timeout, this, [this] { m_core.InvalidateVideo(); });
    CreateControls();
}

CTrellonDlg::~CTrellonDlg()
{
    // The detached window first: it clears m_pView on its way out.
    delete m_pView;
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
    m_core.OnInitDialog(Narrow(m_strCommandLine));
    return true;
}

int CTrellonDlg::LoadVideo(const QString& path)
{
    return m_core.LoadVideo(Narrow(path));
}

bool CTrellonDlg::SaveTo(const QString& path, QString& reason)
{
    std::string why;
    const bool saved = m_core.SaveTo(Narrow(path), why);
    reason = ToQString(why);
    return saved;
}

void CTrellonDlg::OnDropFiles(const QStringList& paths)
{
    std::vector<std::string> files;
    for (const QString& path : paths)
        files.push_back(Narrow(path));
    m_core.OnDropFiles(files);
}

// ---------------------------------------------------------------------------
// The controls

void CTrellonDlg::SetItemText(int id, const std::string& text)
{
    QWidget* item = GetDlgItem(id);
    if (item == nullptr)
        return;
    const QString shown = ToQString(text);
    if (item->property("text").toString() != shown)
        item->setProperty("text", shown);
}

void CTrellonDlg::EnableItem(int id, bool enabled)
{
    if (QWidget* item = GetDlgItem(id))
        item->setEnabled(enabled);
}

bool CTrellonDlg::IsItemChecked(int id) const
{
    const auto* box = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
    return box != nullptr && box->isChecked();
}

void CTrellonDlg::CheckItem(int id, bool checked)
{
    if (auto* box = qobject_cast<QAbstractButton*>(GetDlgItem(id)))
        box->setChecked(checked);
}

int CTrellonDlg::GetListSelection(int id) const
{
    const auto* list = qobject_cast<const QComboBox*>(GetDlgItem(id));
    return list != nullptr ? list->currentIndex() : -1;
}

void CTrellonDlg::SetListSelection(int id, int index)
{
    if (auto* list = qobject_cast<QComboBox*>(GetDlgItem(id)))
        list->setCurrentIndex(index);
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

std::string CTrellonDlg::ProgramName() const
{
    return Narrow(m_strProgramName);
}

// The title ends with the application's display name, which the toolkit
// then leaves alone (it appends that name to any title that does not end
// with it): the window manager gets the title as the core composed it.
void CTrellonDlg::SetTitle(const std::string& title)
{
    const QString shown = ToQString(title);
    if (windowTitle() != shown)
        setWindowTitle(shown);
}

// ---------------------------------------------------------------------------
// The person

MsgAnswer CTrellonDlg::Message(const std::string& caption, const std::string& text,
                               MsgButtons buttons, MsgIcon icon, bool owned)
{
    QMessageBox::StandardButtons shown = QMessageBox::Ok;
    if (buttons == MsgButtons::OkCancel)
        shown = QMessageBox::Ok | QMessageBox::Cancel;
    else if (buttons == MsgButtons::YesNo)
        shown = QMessageBox::Yes | QMessageBox::No;
    QMessageBox::Icon sign = QMessageBox::NoIcon;
    if (icon == MsgIcon::Information)
        sign = QMessageBox::Information;
    else if (icon == MsgIcon::Question)
        sign = QMessageBox::Question;
    else if (icon == MsgIcon::Warning)
        sign = QMessageBox::Warning;
    switch (m_services.messageBox(owned ? this : nullptr, ToQString(caption), ToQString(text),
                                  shown, sign))
    {
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Cancel;
    }
}

std::string CTrellonDlg::ChooseVideoFile(bool forSaving)
{
    return Narrow(m_services.chooseFile(this, forSaving));
}

std::string CTrellonDlg::ChooseExportFile(const std::string& extension)
{
    return Narrow(m_services.chooseExportFile(this, ToQString(extension)));
}

bool CTrellonDlg::AskFragment(int& first, int& last)
{
    CExtractDlg dialog(this, m_services);
    if (m_services.runModal(dialog) != QDialog::Accepted)
        return false;
    first = dialog.m_nStartFrame;
    last = dialog.m_nEndFrame;
    return true;
}

bool CTrellonDlg::AskExport(int frames, ExportChoice& choice)
{
    CExportDlg dialog(this, frames, choice.first, choice.last);
    if (m_services.runModal(dialog) != QDialog::Accepted)
        return false;
    choice.format = dialog.GetFormat();
    choice.first = dialog.GetFirst();
    choice.last = dialog.GetLast();
    choice.scale = dialog.GetScale();
    return true;
}

void CTrellonDlg::ShowAbout()
{
    CAboutDlg about(this);
    m_services.runModal(about);
}

std::unique_ptr<ILongTaskView> CTrellonDlg::BeginLongTask(const std::string& text)
{
    return std::make_unique<CLongTask>(this, ToQString(text));
}

// ---------------------------------------------------------------------------
// The timer and the clock

bool CTrellonDlg::StartTimer(unsigned periodMs)
{
    StopTimer();
    m_nTimerId = startTimer(std::chrono::milliseconds(periodMs), Qt::PreciseTimer);
    return m_nTimerId != 0;
}

void CTrellonDlg::StopTimer()
{
    if (m_nTimerId != 0)
        killTimer(m_nTimerId);
    m_nTimerId = 0;
}

std::int64_t CTrellonDlg::Counter()
{
    return m_services.counter();
}

std::int64_t CTrellonDlg::CounterFrequency()
{
    return m_services.counterFrequency;
}

void CTrellonDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_nTimerId)
        m_core.OnTimer();
    else
        QDialog::timerEvent(event);
}

// ---------------------------------------------------------------------------
// The picture

void CTrellonDlg::OnPaint(QWidget* painting)
{
    // The window being painted draws the new picture itself, right after:
    // asking it for another paint would paint on and on.
    m_pPainting = painting;
    m_core.OnPaint();
    m_pPainting = nullptr;
}

void CTrellonDlg::ShowPicture(const DisplayFrame& frame)
{
    QImage image = DisplayImage(frame);
    if (image.isNull())
        return;
    m_displayImage = std::move(image);
    ConvertForShowing(m_displayImage, m_shownImage);
    QWidget* const shows = m_pView != nullptr ? static_cast<QWidget*>(m_pView) : m_pArea;
    if (shows != m_pPainting)
        shows->update();
}

// The shown picture looks at the frame buffer until something else is put
// there: then it takes a copy of its own, once, so that the window keeps
// what it showed.
void CTrellonDlg::KeepPicture()
{
    if (m_displayImage.constBits() ==
        GetManager().GetFrameBuffer() + CVideoManager::kDisplayHeaderBytes)
        m_displayImage = m_displayImage.copy();
}

// The video area's paint is the playback loop's step; the controls repaint
// themselves when what they show changes.
void CTrellonDlg::InvalidateVideo()
{
    // A minimised dialog gets no paints: the detached window carries on.
    if (m_pView != nullptr && isMinimized())
        m_pView->update();
    else
        m_pArea->update();
}

void CTrellonDlg::SchedulePaint(int delayMs)
{
    m_nextPaint.start(delayMs);
}

void CTrellonDlg::CancelPaint()
{
    m_nextPaint.stop();
}

void CTrellonDlg::OpenDetachedView()
{
    if (m_pView == nullptr)
        m_pView = new CResizableView(this, &m_pView);
    m_pView->activateWindow();
    m_pView->raise();
    m_pView->setFocus();
}

void CTrellonDlg::SizeDetachedView(int width, int height)
{
    if (m_pView == nullptr)
        return;
    // The client area takes the picture's size, or, for a picture larger
    // than the screen can show, the largest size of the picture's shape that
    // fits the screen's free area with the window's frame around it.
    const QRect frame = m_pView->frameGeometry();
    const QSize decoration = frame.size() - m_pView->geometry().size();
    QSize size(width, height);
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

// ---------------------------------------------------------------------------
// The window

void CTrellonDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* exportVideo = menu.addAction(tr("&Export..."));
    exportVideo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportVideo->setEnabled(m_core.CanExport());
    menu.addSeparator();
    QAction* recordSound = menu.addAction(tr("Record &Sound"));
    recordSound->setCheckable(true);
    recordSound->setChecked(m_core.IsRecordSoundOn());
    recordSound->setEnabled(m_core.CanChangeRecordSound());
    QAction* mute = menu.addAction(tr("&Mute Sound"));
    mute->setCheckable(true);
    mute->setChecked(m_core.IsMuted());
    mute->setShortcut(QKeySequence(Qt::Key_M));
    menu.addSeparator();
    QAction* about = menu.addAction(tr("&About TrellonHD..."));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == about)
        m_core.OnSysCommand(IDM_ABOUTBOX);
    else if (chosen == exportVideo)
        m_core.OnExport();
    else if (chosen == recordSound)
        m_core.OnRecordSound();
    else if (chosen == mute)
        m_core.OnMute();
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
        m_core.OnSysCommand(IDM_ABOUTBOX);
        return true;
    }
    if (key == Qt::Key_E && static_cast<QKeyEvent*>(event)->modifiers() == Qt::ControlModifier)
    {
        m_core.OnExport();
        return true;
    }
    if (key == Qt::Key_M && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier)
    {
        m_core.OnMute();
        return true;
    }
    return false;
}

void CTrellonDlg::closeEvent(QCloseEvent* event)
{
    if (m_core.OnClose())
        QDialog::closeEvent(event);
    else
        event->ignore();
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
