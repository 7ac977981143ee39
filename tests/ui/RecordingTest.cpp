// The recording loop: the controls' states over a recording, the timer
// period, the guard against ticks inside ticks, the game's version field
// and the pointer switch.

#include "FakeGame.h"
#include "UiTestSupport.h"
#include "Video.h"
#include "VideoManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace
{
const int kFileButtons[] = {IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_GET_FRAME};

// The record button's caption and state, and whether the four buttons that
// touch the video are enabled.
struct ControlState
{
    QString caption;
    bool recordEnabled;
    bool othersEnabled;
    bool othersDisabled;
};

ControlState StateOf(const CTrellonDlg& dlg)
{
    ControlState state{Item<QPushButton>(dlg, IDC_RECORD)->text(),
                       dlg.GetDlgItem(IDC_RECORD)->isEnabled(), true, true};
    for (int id : kFileButtons)
    {
        state.othersEnabled = state.othersEnabled && dlg.GetDlgItem(id)->isEnabled();
        state.othersDisabled = state.othersDisabled && !dlg.GetDlgItem(id)->isEnabled();
    }
    return state;
}

QString VersionText(const CTrellonDlg& dlg)
{
    return Item<QLineEdit>(dlg, IDC_VERSION)->text();
}
} // namespace

class RecordingTest : public UiTest
{
    Q_OBJECT

private slots:
    void recordingCycleSwitchesTheControls();
    void stoppingWithoutAFrameKeepsTheVideoOpenForRecording();
    void clearingReopensTheVideoForRecording();
    void timerPeriodFollowsTheTargetFps();
    void tickDuringATickIsDropped();
    void missingSheetBoxDoesNotLetTicksIn();
    void versionFieldFollowsTheGame();
    void showCursorSwitchRedrawsThePointer();
};

void RecordingTest::recordingCycleSwitchesTheControls()
{
    StartFakeGame();
    auto dlg = h.NewDialog();
    ControlState state = StateOf(*dlg);
    QCOMPARE(state.caption, QStringLiteral("Start Recording"));
    QVERIFY(state.recordEnabled);
    QVERIFY(state.othersEnabled);
    QVERIFY(!dlg->HasTimer());

    dlg->OnRecord();
    state = StateOf(*dlg);
    QVERIFY(dlg->IsRecording());
    QCOMPARE(state.caption, QStringLiteral("Stop Recording"));
    QVERIFY(state.recordEnabled);
    QVERIFY(state.othersDisabled);
    QVERIFY(dlg->HasTimer());

    dlg->OnTimer();
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 2);
    QCOMPARE(dlg->GetSliderMax(), 1);

    dlg->OnRecord();
    state = StateOf(*dlg);
    QVERIFY(!dlg->IsRecording());
    QVERIFY(!dlg->HasTimer());
    QCOMPARE(state.caption, QStringLiteral("Start Recording"));
    QVERIFY(!state.recordEnabled); // a finished recording is not continued
    QVERIFY(state.othersEnabled);

    // A tick after the stop records nothing.
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 2);
}

void RecordingTest::stoppingWithoutAFrameKeepsTheVideoOpenForRecording()
{
    auto dlg = h.NewDialog(); // no game window: every tick finds nothing
    RecordTicks(*dlg, 3);
    QCOMPARE(FrameCount(*dlg), 0);
    const ControlState state = StateOf(*dlg);
    QCOMPARE(state.caption, QStringLiteral("Start Recording"));
    QVERIFY(state.recordEnabled);
    QVERIFY(state.othersEnabled);
}

void RecordingTest::clearingReopensTheVideoForRecording()
{
    StartFakeGame();
    auto dlg = h.NewDialog();
    RecordTicks(*dlg, 2);
    QVERIFY(!dlg->GetDlgItem(IDC_RECORD)->isEnabled());

    // Unsaved frames: clearing asks first, and No keeps them.
    h.Expect("?", "Clear current video?", QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    dlg->OnClear();
    QCOMPARE(FrameCount(*dlg), 2);
    QVERIFY(!dlg->GetDlgItem(IDC_RECORD)->isEnabled());

    h.Expect("?", "Clear current video?", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    dlg->OnClear();
    QCOMPARE(FrameCount(*dlg), 0);
    QVERIFY(dlg->GetDlgItem(IDC_RECORD)->isEnabled());

    // A loaded (saved) video is cleared without a question.
    const QString path = h.dir->filePath("saved.dk2");
    QVERIFY(WriteVideo(path, 2));
    QCOMPARE(dlg->LoadVideo(path), 1);
    QVERIFY(!dlg->GetDlgItem(IDC_RECORD)->isEnabled());
    dlg->OnClear();
    QCOMPARE(FrameCount(*dlg), 0);
    QVERIFY(dlg->GetDlgItem(IDC_RECORD)->isEnabled());
}

void RecordingTest::timerPeriodFollowsTheTargetFps()
{
    for (int n = 0; n < CTrellonDlg::kTargetFpsCount; ++n)
        QCOMPARE(CTrellonDlg::TimerPeriodMs(n),
                 1000u / static_cast<unsigned>(CTrellonDlg::kTargetFps[n]));
    QCOMPARE(CTrellonDlg::TimerPeriodMs(-1), 33u); // no selection: 30 per second

    auto dlg = h.NewDialog();
    auto* fps = Item<QComboBox>(*dlg, IDC_TARGET_FPS);
    const struct
    {
        const char* shown;
        unsigned period;
    } cases[] = {{"100", 10}, {"3", 333}, {"18", 55}, {"30", 33}};
    for (const auto& c : cases)
    {
        const int index = fps->findText(QString::fromLatin1(c.shown));
        QVERIFY2(index >= 0, c.shown);
        fps->setCurrentIndex(index);
        dlg->OnRecord();
        QVERIFY(dlg->HasTimer());
        QCOMPARE(dlg->GetTimerPeriodMs(), c.period);
        dlg->OnRecord();
        QVERIFY(!dlg->HasTimer());
    }
}

void RecordingTest::tickDuringATickIsDropped()
{
    StartFakeGame();
    auto dlg = h.NewDialog();
    dlg->OnRecord();
    s_bInTimer = 1;
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 0);
    QCOMPARE(s_bInTimer, 1); // the running tick still owns the flag
    s_bInTimer = 0;
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 1);
    QCOMPARE(s_bInTimer, 0);
    dlg->OnRecord();
}

void RecordingTest::missingSheetBoxDoesNotLetTicksIn()
{
    // Built in an empty folder, with no program folder known, the manager
    // finds none of its sheets.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(h.dir->path()));
    auto dlg = h.NewDialog();
    QVERIFY(QDir::setCurrent(previous));

    StartFakeGame();
    Item<QCheckBox>(*dlg, IDC_STATS)->setChecked(true);
    int framesInsideBox = -1;
    const auto tickInside = [&]
    {
        dlg->OnTimer();
        framesInsideBox = FrameCount(*dlg);
    };
    h.Expect("error loading file", "File font1.bmp have not been loaded", QMessageBox::Ok,
             QMessageBox::Ok, QMessageBox::NoIcon, tickInside);
    h.Expect("error loading file", "File font2.bmp have not been loaded", QMessageBox::Ok,
             QMessageBox::Ok);
    h.Expect("error loading file", "File units.bmp have not been loaded", QMessageBox::Ok,
             QMessageBox::Ok);
    dlg->OnRecord();
    dlg->OnTimer();
    QCOMPARE(framesInsideBox, 1);
    QCOMPARE(FrameCount(*dlg), 1);
    QCOMPARE(s_bInTimer, 0);
    QCOMPARE(h.shown.size(), 3);
    QCOMPARE(h.shown.first().owner, nullptr); // not tied to the dialog

    // Told once per game: the next tick records without a box.
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 2);
    dlg->OnRecord();
}

void RecordingTest::versionFieldFollowsTheGame()
{
    CFakeGame& game = CFakeGame::Get();
    auto dlg = h.NewDialog();
    QCOMPARE(dlg->GrabFrame(), 0);
    QCOMPARE(VersionText(*dlg), QStringLiteral("war2 not detected"));

    StartFakeGame();
    QCOMPARE(dlg->GrabFrame(), 1);
    QCOMPARE(VersionText(*dlg), QStringLiteral("war2 v2.0.2.0"));
    QCOMPARE(FrameCount(*dlg), 1);

    game.EndProcess();
    QCOMPARE(dlg->GrabFrame(), 0);
    QCOMPARE(VersionText(*dlg), QStringLiteral("war2 not detected"));
    QCOMPARE(FrameCount(*dlg), 1);

    // The same build again: the kind last shown has not changed, so the
    // field is not written again.
    game.ShowWindow("WARCRAFT II", 99);
    QCOMPARE(dlg->GrabFrame(), 1);
    QCOMPARE(FrameCount(*dlg), 2);
    QCOMPARE(VersionText(*dlg), QStringLiteral("war2 not detected"));
}

void RecordingTest::showCursorSwitchRedrawsThePointer()
{
    const QString path = h.dir->filePath("pointer.dk2");
    QVERIFY(WriteVideo(path, 1, 640, 480, 100u | (50u << 16)));
    auto dlg = h.NewDialog();
    QCOMPARE(dlg->LoadVideo(path), 1);
    auto* showCursor = Item<QCheckBox>(*dlg, IDC_SHOW_CURSOR);
    QVERIFY(showCursor->isChecked());
    const int underPointer = TestPicture(640, 480, 0)[50 * 640 + 100];

    QVERIFY(dlg->GetDisplayImage() != nullptr);
    QCOMPARE(dlg->GetDisplayImage()->pixelIndex(100, 50), 255);
    QCOMPARE(dlg->GetDisplayImage()->pixelIndex(102, 51), 255); // the arrow's edge

    showCursor->click(); // unchecks and tells the dialog
    QVERIFY(!showCursor->isChecked());
    QVERIFY(dlg->GetDisplayImage() != nullptr);
    QCOMPARE(dlg->GetDisplayImage()->pixelIndex(100, 50), underPointer);

    showCursor->setChecked(true);
    dlg->OnShowCursor();
    QCOMPARE(dlg->GetDisplayImage()->pixelIndex(100, 50), 255);
}

TRELLON_UI_TEST(RecordingTest);
#include "RecordingTest.moc"
