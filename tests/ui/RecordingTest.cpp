// The recording and playback loops: the controls over a recording, the
// timer period, ticks during a tick's box, the game's version field, the
// playback clock against the test's counter and the pointer switch.

#include "UiTestSupport.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
#include "video/Video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSlider>
#include <QTest>

namespace
{
// The record button's caption and state, then whether Save, Load, Clear,
// Get Frame and Extract are enabled: "Start Recording on 11111".
QString Controls(const CTrellonDlg& dlg)
{
    QString state = Text(dlg, IDC_RECORD) + (Enabled(dlg, IDC_RECORD) ? " on " : " off ");
    for (int id : {IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_GET_FRAME, IDC_EXTRACT})
        state += Enabled(dlg, id) ? '1' : '0';
    return state;
}
} // namespace

class RecordingTest : public UiTest
{
    Q_OBJECT

private slots:
    void recordStopCycleSwitchesTheControls();
    void timerPeriodFollowsTheTargetFps();
    void tickDuringATickBoxIsDropped();
    void versionFieldFollowsTheGame();
    void playbackClockFollowsTheCounter();
    void showCursorTogglesThePointer();
    void gameSizeChangeStopsTheRecordingAndKeepsItsFrames();
    void titleTellsTheRecordingAndTheFile();
    void journalLivesUntilTheRecordingIsSavedOrGivenUp();
    void unsavedRecordingOfAnEarlierRunIsOffered();
    void unwritableJournalIsToldOnceAndTheRecordingGoesOn();
    void pauseKeepsTheVideoOpenAndTheTimeLineWhole();
    void commandsFromOtherProcessesDriveTheRecording();
};

void RecordingTest::recordStopCycleSwitchesTheControls()
{
    auto dlg = NewDialog(); // no game yet: ticks find nothing
    QCOMPARE(Controls(*dlg), "Start Recording on 11111");
    dlg->OnPlay(); // nothing to play
    QVERIFY(!dlg->IsPlaying());
    dlg->OnRecord();
    QVERIFY(dlg->HasTimer());
    QCOMPARE(Controls(*dlg), "Stop Recording on 00000");
    dlg->OnTimer();
    dlg->OnRecord();
    QVERIFY(!dlg->HasTimer());
    QCOMPARE(Frames(*dlg), 0);
    QCOMPARE(Controls(*dlg), "Start Recording on 11111"); // nothing recorded: may go on

    StartFakeGame();
    dlg->OnRecord();
    dlg->OnTimer();
    dlg->OnTimer();
    QCOMPARE(Frames(*dlg), 2);
    QCOMPARE(dlg->GetSliderMax(), 1);
    dlg->OnPlay(); // not while recording
    QVERIFY(!dlg->IsPlaying());
    dlg->OnRecord();
    QCOMPARE(Controls(*dlg), "Start Recording off 11111");
    dlg->OnTimer();
    QCOMPARE(Frames(*dlg), 2);

    Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    dlg->OnClear();
    QCOMPARE(Frames(*dlg), 2);
    Expect("?", "Clear current video?", kYesNo, QMessageBox::Yes);
    dlg->OnClear();
    QCOMPARE(Frames(*dlg), 0);
    QCOMPARE(Controls(*dlg), "Start Recording on 11111");
}

void RecordingTest::timerPeriodFollowsTheTargetFps()
{
    auto dlg = NewDialog();
    auto* fps = Item<QComboBox>(*dlg, IDC_TARGET_FPS);
    QCOMPARE(fps->currentText(), "30");
    const std::pair<const char*, unsigned> cases[] = {{"100", 10}, {"3", 333}, {"18", 55}};
    for (const auto& [shown, period] : cases)
    {
        fps->setCurrentIndex(fps->findText(shown));
        dlg->OnRecord();
        QCOMPARE(dlg->GetTimerPeriodMs(), period);
        dlg->OnRecord();
    }
}

void RecordingTest::tickDuringATickBoxIsDropped()
{
    // Built in an empty folder, the manager finds none of its sheets.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Path(".")));
    auto dlg = NewDialog();
    QVERIFY(QDir::setCurrent(previous));
    StartFakeGame();
    Item<QCheckBox>(*dlg, IDC_STATS)->setChecked(true);
    int framesInBox = -1;
    Expect("error loading file", "File font1.bmp have not been loaded", QMessageBox::Ok,
           QMessageBox::Ok, QMessageBox::NoIcon,
           [&]
           {
               dlg->OnTimer();
               framesInBox = Frames(*dlg);
           });
    Expect("error loading file", "File font2.bmp have not been loaded");
    Expect("error loading file", "File units.bmp have not been loaded");
    dlg->OnRecord();
    dlg->OnTimer();
    QCOMPARE(framesInBox, 1);
    QCOMPARE(Frames(*dlg), 1);
    QCOMPARE(dlg->GetDroppedTicks(), 1);
    dlg->OnTimer(); // told once per game
    QCOMPARE(Frames(*dlg), 2);
    dlg->OnRecord();
}

void RecordingTest::versionFieldFollowsTheGame()
{
    CFakeGame& game = CFakeGame::Get();
    auto dlg = NewDialog();
    StartFakeGame();
    game.RefuseOpen("some reason");
    Expect("Error",
           "The game's window was found, but TrellonHD can't read the game's memory.\nsome reason",
           QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Warning);
    QCOMPARE(dlg->GrabFrame(), 0);
    QCOMPARE(Text(*dlg, IDC_VERSION), "war2 not detected");
    QCOMPARE(dlg->GrabFrame(), 0); // told once

    game.RefuseOpen("");
    QCOMPARE(dlg->GrabFrame(), 1);
    QCOMPARE(Text(*dlg, IDC_VERSION), "war2 v2.0.2.0");
    game.EndProcess();
    QCOMPARE(dlg->GrabFrame(), 0);
    QCOMPARE(Text(*dlg, IDC_VERSION), "war2 not detected");
    // Back with the same build: the kind last shown is unchanged, so is the text.
    game.ShowWindow("WARCRAFT II", 99);
    QCOMPARE(dlg->GrabFrame(), 1);
    QCOMPARE(Frames(*dlg), 2);
    QCOMPARE(Text(*dlg, IDC_VERSION), "war2 not detected");
}

void RecordingTest::playbackClockFollowsTheCounter()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    dlg->OnPlay();
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 0);
    Advance(0.25);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 3); // the first frame not before 0.25 s
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 4/10");
    QCOMPARE(Text(*dlg, IDC_TIME_TEXT), "Time 0.30");
    // The next paint is asked for when the clock passes 0.30 s, not at once.
    QVERIFY(qAbs(dlg->GetNextPaintDelayMs() - 50) <= 1);

    Item<QComboBox>(*dlg, IDC_SPEED)->setCurrentIndex(5); // 2x, from where the clock is
    QCOMPARE(dlg->GetPlayTime(), 0.25);
    Advance(0.1);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 5);
    // 0.05 s of the recording at twice the speed.
    QVERIFY(qAbs(dlg->GetNextPaintDelayMs() - 25) <= 1);

    Advance(0.5); // the person drags the slider meanwhile
    Item<QSlider>(*dlg, IDC_FRAME_SLIDER)->setValue(7);
    QVERIFY(dlg->IsPlaying());
    QCOMPARE(dlg->GetPlayTime(), static_cast<double>(0.7f));
    Advance(0.05);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 8);

    Advance(0.1); // past the last frame: back to the first, stopped
    dlg->OnPaint();
    QVERIFY(!dlg->IsPlaying());
    QCOMPARE(dlg->GetSliderPos(), 0);
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/10");

    dlg->SetSliderPos(9);
    dlg->OnPaint();
    dlg->OnPlay();
    QVERIFY(dlg->IsPlaying());
    Advance(0.01);
    dlg->OnPaint();
    QVERIFY(!dlg->IsPlaying());
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/10");
    QCOMPARE(Text(*dlg, IDC_TIME_TEXT), "Time 0.00");

    dlg->OnPlay();
    bool playingInBox = true;
    Expect("Stats", {}, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::NoIcon,
           [&] { playingInBox = dlg->IsPlaying(); });
    dlg->OnVideoInfo();
    QVERIFY(!playingInBox);
}

void RecordingTest::showCursorTogglesThePointer()
{
    auto dlg = Loaded(1);
    QVERIFY(dlg);
    auto* showCursor = Item<QCheckBox>(*dlg, IDC_SHOW_CURSOR);
    QVERIFY(showCursor->isChecked());
    QCOMPARE(Pixel(*dlg, 100, 50), 255);
    showCursor->click();
    QCOMPARE(Pixel(*dlg, 100, 50), TestPicture(640, 480, 0)[50 * 640 + 100]);
    showCursor->click();
    QCOMPARE(Pixel(*dlg, 100, 50), 255);
}

void RecordingTest::gameSizeChangeStopsTheRecordingAndKeepsItsFrames()
{
    StartFakeGame();
    auto dlg = NewDialog();
    dlg->OnRecord();
    dlg->OnTimer();
    dlg->OnTimer();
    // The game comes back at 800 x 600.
    CFakeGame& game = CFakeGame::Get();
    game.Unmap(0x20000000);
    game.Map(0x20000000, TestPicture(800, 600, 5));
    game.Write32(0x004D4A90, 800u | (600u << 16));
    Expect("Error",
           "The game's picture changed from 640 x 480 to 800 x 600: the recording was "
           "stopped.\nThe 2 frames recorded so far are kept; save them, then Clear to "
           "record at the new size.",
           QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Warning);
    dlg->OnTimer();
    QVERIFY(!dlg->IsRecording());
    QCOMPARE(Frames(*dlg), 2);
    QCOMPARE(dlg->GetManager().GetVideo().GetWidth(), 640);
    dlg->OnPaint();
    QCOMPARE(Pixel(*dlg, 3, 2), TestPicture(640, 480, 0)[2 * 640 + 3]);

    Expect("?", "Clear current video?", kYesNo, QMessageBox::Yes);
    dlg->OnClear();
    RecordTicks(*dlg, 1);
    QCOMPARE(Frames(*dlg), 1);
    QCOMPARE(dlg->GetManager().GetVideo().GetWidth(), 800);
}

void RecordingTest::titleTellsTheRecordingAndTheFile()
{
    StartFakeGame();
    auto dlg = NewDialog();
    QCOMPARE(dlg->windowTitle(), "TrellonHD");
    Item<QComboBox>(*dlg, IDC_TARGET_FPS)->setCurrentIndex(13); // 30: a 33 ms period
    dlg->OnRecord();
    QCOMPARE(dlg->windowTitle(),
             "\u25CF REC 00:00:00 \u00B7 0 frames \u00B7 0 dropped \u00B7 sound (none yet) \u2014 TrellonHD");
    Advance(0.033);
    dlg->OnTimer();
    // Refreshed at most four times a second: the first frame is not shown yet.
    QVERIFY(dlg->windowTitle().contains("0 frames"));
    Advance(0.300); // nine periods: eight ticks never came
    dlg->OnTimer();
    QCOMPARE(dlg->GetDroppedTicks(), 8);
    QVERIFY(dlg->windowTitle().endsWith("\u00B7 2 frames \u00B7 8 dropped \u00B7 sound (none yet) \u2014 TrellonHD"));
    dlg->OnRecord();
    QCOMPARE(dlg->windowTitle(), "unsaved recording * \u2014 TrellonHD");

    chosenFile = Path("game.dk2");
    dlg->OnSave();
    QCOMPARE(dlg->windowTitle(), "game.dk2 \u2014 TrellonHD");
    dlg->OnClear();
    QCOMPARE(dlg->windowTitle(), "TrellonHD");
    QCOMPARE(dlg->LoadVideo(Path("game.dk2")), 1);
    QCOMPARE(dlg->windowTitle(), "game.dk2 \u2014 TrellonHD");
}

namespace
{
QStringList Journals(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.trj")}, QDir::Files);
}
} // namespace

void RecordingTest::journalLivesUntilTheRecordingIsSavedOrGivenUp()
{
    StartFakeGame();
    const QString folder = Path("journals");
    auto dlg = NewDialog();
    RecordTicks(*dlg, 3);
    QCOMPARE(Journals(folder).size(), 1);
    chosenFile = Path("kept.dk2");
    dlg->OnSave(); // saved: the journal goes
    QCOMPARE(Journals(folder).size(), 0);

    dlg->OnClear(); // saved: no question
    RecordTicks(*dlg, 2);
    QCOMPARE(Journals(folder).size(), 1);
    Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    dlg->OnClear(); // not given up: kept
    QCOMPARE(Journals(folder).size(), 1);
    dlg->show();
    Expect("Closing application", "You have some unsaved frames, exit anyway?", kYesNo,
           QMessageBox::Yes, QMessageBox::Question);
    QVERIFY(dlg->close());
    QCOMPARE(Journals(folder).size(), 0);
}

void RecordingTest::unsavedRecordingOfAnEarlierRunIsOffered()
{
    StartFakeGame();
    const QString folder = Path("journals");
    {
        // A run that ends without saving, as a crash would leave it.
        auto crashed = NewDialog();
        RecordTicks(*crashed, 4);
        crashed->GetManager().CloseJournal();
    }
    QCOMPARE(Journals(folder).size(), 1);

    // No, then no to deleting: the journal stays for the next start.
    Expect("Recover recording", "", kYesNo, QMessageBox::No, QMessageBox::Question);
    Expect("Recover recording", "", kYesNo, QMessageBox::No, QMessageBox::Question);
    QCOMPARE(Frames(*NewDialog()), 0);
    QCOMPARE(Journals(folder).size(), 1);

    // Yes: the frames come back unsaved; saving them ends the journal.
    CFakeGame::Get().HideWindow(); // the game's map would keep the picture away
    Expect("Recover recording", "", kYesNo, QMessageBox::Yes, QMessageBox::Question);
    Expect("Recover recording", "", QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Information);
    auto dlg = NewDialog();
    QCOMPARE(Frames(*dlg), 4);
    QVERIFY(!dlg->GetManager().GetVideo().IsSaved());
    QCOMPARE(Pixel(*dlg, 3, 2), TestPicture(640, 480, 0)[2 * 640 + 3]);
    chosenFile = Path("recovered.dk2");
    dlg->OnSave();
    QCOMPARE(Journals(folder).size(), 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 0);
}

void RecordingTest::unwritableJournalIsToldOnceAndTheRecordingGoesOn()
{
    StartFakeGame();
    QFile blocker(Path("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    journalFolder = Path("file/journals"); // a folder under a file: can't be made
    auto dlg = NewDialog();
    journalFolder.clear();
    Expect("Error", "", QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Warning);
    RecordTicks(*dlg, 4);
    QCOMPARE(Frames(*dlg), 4);
}

void RecordingTest::pauseKeepsTheVideoOpenAndTheTimeLineWhole()
{
    StartFakeGame();
    auto dlg = NewDialog();
    Item<QComboBox>(*dlg, IDC_TARGET_FPS)->setCurrentIndex(13); // 33 ms
    dlg->OnRecord();
    dlg->OnTimer();
    dlg->OnTimer();
    dlg->OnPauseRecording();
    QVERIFY(dlg->IsPaused() && dlg->IsRecording() && !dlg->HasTimer());
    QVERIFY(dlg->windowTitle().contains(QString::fromUtf8("\u275A\u275A PAUSED 00:00:00")));
    QTest::qSleep(400); // the time stamps come from the real clock
    dlg->OnPauseRecording();
    QVERIFY(!dlg->IsPaused() && dlg->HasTimer());
    dlg->OnTimer();
    QCOMPARE(Frames(*dlg), 3);
    const CVideo& video = dlg->GetManager().GetVideo();
    // One period after the last frame before the pause, not the pause later.
    QVERIFY2(video.GetFrameTime(2) - video.GetFrameTime(1) < 0.2f,
             qPrintable(QString::number(static_cast<double>(video.GetFrameTime(2)))));
    dlg->OnPauseRecording();
    dlg->OnRecord(); // a paused recording ends as any other
    QVERIFY(!dlg->IsRecording() && !dlg->IsPaused() && !dlg->HasTimer());
    QVERIFY(!video.IsAppendable());
}

void RecordingTest::commandsFromOtherProcessesDriveTheRecording()
{
    StartFakeGame();
    auto dlg = NewDialog();
    QCOMPARE(dlg->RunCommand("pause"), "not recording");
    QCOMPARE(dlg->RunCommand("toggle"), "ok");
    QVERIFY(dlg->IsRecording());
    dlg->OnTimer();
    QCOMPARE(dlg->RunCommand("pause"), "ok");
    QVERIFY(dlg->IsPaused());
    const QString path = Path("remote.dk2");
    QCOMPARE(dlg->RunCommand("save " + path), "ok"); // ends the recording first
    QVERIFY(!dlg->IsRecording());
    QVERIFY(QFileInfo(path).size() > 32);
    QCOMPARE(dlg->RunCommand("toggle"), "the recording has ended; Clear starts a new one");
    QVERIFY(dlg->RunCommand("save " + Path("no/such/folder.dk2")).startsWith("Error writing to "));
    QVERIFY(dlg->RunCommand("launch").startsWith("unknown command"));
}

std::unique_ptr<QObject> MakeRecordingTest()
{
    return std::make_unique<RecordingTest>();
}

#include "RecordingTest.moc"
