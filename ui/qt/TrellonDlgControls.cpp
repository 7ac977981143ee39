// The main dialog's controls, laid out as its template gives them in dialog
// units, in tab order.

#include "ui/qt/DialogUnits.h"
#include "ui/qt/TrellonDlg.h"
#include "ui/qt/VideoArea.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>

namespace
{
// A group box drawn as the template's were: the caption sits on the frame's
// top line, not above it, so that the caption's second line (a static text
// placed just below) stays inside the frame.
void CaptionOnFrame(QGroupBox* box)
{
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 5px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 3px; padding: 0px 1px; }"));
}

// A check box whose caption is wider than the room beside its indicator
// breaks it into lines at blanks, as a multi-line check box of the template
// would; the caption's words stay as they are.
void WrapCaption(QCheckBox* box)
{
    const QFontMetrics metrics(box->font());
    const int room = box->width() - box->style()->pixelMetric(QStyle::PM_IndicatorWidth) -
                     box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) - 2;
    const auto width = [&](const QString& text)
    { return metrics.size(Qt::TextShowMnemonic, text).width(); };
    const QStringList words = box->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (width(box->text()) <= room || words.size() < 2)
        return;
    QString wrapped, line;
    for (const QString& word : words)
    {
        const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && width(longer) > room)
        {
            wrapped += line + QLatin1Char('\n');
            line = word;
        }
        else
            line = longer;
    }
    box->setText(wrapped + line);
}
} // namespace

void CTrellonDlg::CreateControls()
{
    m_strProgramName = tr("TrellonHD");
    setWindowTitle(m_strProgramName);
    setFixedSize(DialogSize(481, 343));
    setFont(DialogFont());

    // Below the controls, so that it never covers one of them.
    m_pArea = new CVideoArea(this);

    // The groups in the template's order, which is the tab order.
    CreateSliderAndCounters();
    CreateButtons();
    CreatePlaybackControls();
    CreateRecordingSettings();

    // Key presses reach the keyboard filter whichever control has the focus.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        w->installEventFilter(this);
}

void CTrellonDlg::RegisterControl(QWidget* widget, int id, const char* objectName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    m_controls.insert(id, widget);
}

QPushButton* CTrellonDlg::AddButton(int id, const char* objectName, const QString& caption,
                                    const QRect& place, void (CTrellonDlg::*handler)())
{
    auto* b = new QPushButton(caption, this);
    b->setAutoDefault(false);
    b->setGeometry(place);
    RegisterControl(b, id, objectName);
    connect(b, &QPushButton::clicked, this, handler);
    return b;
}

// Under the video area: the frame slider, the frame and time texts, the
// byte count, the game's version, and the hidden tick time.
void CTrellonDlg::CreateSliderAndCounters()
{
    m_slider = Place(new QSlider(Qt::Horizontal, this), 0, 297, 481, 17);
    m_slider->setTickPosition(QSlider::NoTicks);
    m_slider->setFocusPolicy(Qt::StrongFocus);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(10);
    m_slider->setRange(0, 0);
    RegisterControl(m_slider, IDC_FRAME_SLIDER, "IDC_FRAME_SLIDER");
    connect(m_slider, &QSlider::valueChanged, this, &CTrellonDlg::OnHScroll);

    auto* frameText = Place(new QLabel(tr("Frame"), this), 7, 319, 98, 8);
    RegisterControl(frameText, IDC_FRAME_TEXT, "IDC_FRAME_TEXT");
    auto* timeText = Place(new QLabel(tr("Time"), this), 7, 331, 60, 8);
    RegisterControl(timeText, IDC_TIME_TEXT, "IDC_TIME_TEXT");

    auto* bytes = Place(new QLineEdit(this), 118, 329, 47, 13);
    bytes->setReadOnly(true);
    bytes->setAlignment(Qt::AlignRight);
    RegisterControl(bytes, IDC_BYTES, "IDC_BYTES");
    Place(new QLabel(tr("Bytes"), this), 166, 331, 19, 8);

    auto* version = Place(new QLineEdit(this), 237, 329, 107, 13);
    version->setReadOnly(true);
    RegisterControl(version, IDC_VERSION, "IDC_VERSION");

    auto* tickTime = Place(new QLineEdit(this), 356, 218, 63, 13);
    tickTime->setReadOnly(true);
    tickTime->hide();
    RegisterControl(tickTime, IDC_TICK_TIME, "IDC_TICK_TIME");
}

// The push buttons: recording and saving below, the video's commands and
// playback down the right side.
void CTrellonDlg::CreateButtons()
{
    AddButton(IDC_GET_FRAME, "IDC_GET_FRAME", tr("Get Frame"), DialogRect(367, 245, 52, 17),
              &CTrellonDlg::OnGetFrame)
        ->hide();

    m_pRecord = AddButton(IDC_RECORD, "IDC_RECORD", QString(), DialogRect(416, 317, 64, 25),
                          &CTrellonDlg::OnRecord);
    m_pRecord->setDefault(true);

    AddButton(IDC_SAVE, "IDC_SAVE", tr("&Save"), DialogRect(347, 317, 64, 25),
              &CTrellonDlg::OnSave);

    AddButton(IDC_EXTRACT, "IDC_EXTRACT", tr("&Extract"), DialogRect(187, 328, 47, 14),
              &CTrellonDlg::OnExtract);

    AddButton(IDC_CLEAR, "IDC_CLEAR", tr("&Clear"), DialogRect(70, 328, 47, 14),
              &CTrellonDlg::OnClear);

    AddButton(IDC_LOAD, "IDC_LOAD", tr("&Load"), DialogRect(430, 3, 50, 24), &CTrellonDlg::OnLoad);

    AddButton(IDC_VIDEO_INFO, "IDC_VIDEO_INFO", tr("Video Info"), DialogRect(430, 31, 50, 20),
              &CTrellonDlg::OnVideoInfo);

    AddButton(IDC_DETACH, "IDC_DETACH", tr("Detach\n &Video"), DialogRect(433, 55, 42, 27),
              &CTrellonDlg::OnDetachVideo);

    AddButton(IDC_PLAY, "IDC_PLAY", tr(">   &Play   >"), DialogRect(430, 90, 50, 42),
              &CTrellonDlg::OnPlay);

    AddButton(IDC_PAUSE, "IDC_PAUSE", tr("|   Pa&use   |"), DialogRect(430, 137, 50, 42),
              &CTrellonDlg::OnPause);
}

// Right of the video area, under the buttons: the cursor switch and the
// playback box with the speed list.
void CTrellonDlg::CreatePlaybackControls()
{
    auto* showCursor = Place(new QCheckBox(tr("S&how Cursor"), this), 428, 183, 53, 16);
    WrapCaption(showCursor);
    RegisterControl(showCursor, IDC_SHOW_CURSOR, "IDC_SHOW_CURSOR");
    connect(showCursor, &QCheckBox::clicked, this, &CTrellonDlg::OnShowCursor);

    QGroupBox* playback = Place(new QGroupBox(tr("playback"), this), 428, 200, 54, 34);
    playback->setEnabled(false);
    CaptionOnFrame(playback);
    QLabel* speed = Place(new QLabel(tr("speed"), this), 435, 208, 39, 8);
    speed->setEnabled(false);

    m_cbSpeed = Place(new QComboBox(this), 430, 218, 50, 123);
    const char* const speeds[kSpeedCount] = {QT_TR_NOOP("1/8      "),
                                             QT_TR_NOOP("1/4      "),
                                             QT_TR_NOOP("1/2      "),
                                             QT_TR_NOOP("normal      "),
                                             "1.5x",
                                             "2x",
                                             "2.5x",
                                             "3x",
                                             "4x",
                                             "5x",
                                             "7.5x",
                                             "10x",
                                             "15x"};
    for (const char* text : speeds)
        m_cbSpeed->addItem(tr(text));
    // A drop-down list is as tall as its edit part; the template's height is
    // that of the open list.
    m_cbSpeed->setFixedHeight(m_cbSpeed->sizeHint().height());
    m_cbSpeed->setMaxVisibleItems(kSpeedCount);
    RegisterControl(m_cbSpeed, IDC_SPEED, "IDC_SPEED");
    connect(m_cbSpeed, &QComboBox::currentIndexChanged, this, &CTrellonDlg::OnSpeedChange);
}

// The recording settings box: the target frame rate and the overlay's
// switches, Stats and +.
void CTrellonDlg::CreateRecordingSettings()
{
    QGroupBox* recording = Place(new QGroupBox(tr("recording"), this), 428, 233, 54, 63);
    recording->setEnabled(false);
    CaptionOnFrame(recording);
    QLabel* settings = Place(new QLabel(tr("settings"), this), 435, 241, 39, 8);
    settings->setEnabled(false);
    CaptionOnFrame(Place(new QGroupBox(tr("Target &FPS:"), this), 431, 251, 47, 26));

    m_cbTargetFps = Place(new QComboBox(this), 437, 260, 35, 48);
    for (int fps : CTrellonCore::kTargetFps)
        m_cbTargetFps->addItem(QString::number(fps));
    m_cbTargetFps->setFixedHeight(DialogY(13));
    m_cbTargetFps->setMaxVisibleItems(4);
    RegisterControl(m_cbTargetFps, IDC_TARGET_FPS, "IDC_TARGET_FPS");

    auto* stats = Place(new QCheckBox(tr("S&tats"), this), 429, 281, 32, 10);
    stats->setLayoutDirection(Qt::RightToLeft); // text on the left
    RegisterControl(stats, IDC_STATS, "IDC_STATS");
    auto* plus = Place(new QCheckBox(tr("+"), this), 461, 281, 19, 10);
    plus->setFocusPolicy(Qt::ClickFocus); // no tab stop
    RegisterControl(plus, IDC_PLUS, "IDC_PLUS");
}
