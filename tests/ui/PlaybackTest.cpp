// The playback loop against the test's own counter: every paint moves the
// clock by the counter time passed times the speed and puts the slider on
// the first frame not before the clock.

#include "UiTestSupport.h"
#include "Video.h"
#include "VideoManager.h"

#include <QComboBox>
#include <QSlider>
#include <QTest>

class PlaybackTest : public UiTest
{
    Q_OBJECT

private slots:
    void clockMovesTheSliderByCounterTimeAndSpeed();
    void speedChangeKeepsTheClock();
    void playbackPastTheLastFrameRewindsAndStops();
    void playFromTheLastFrameStopsAtTheFirstStep();
    void movingTheSliderReanchorsTheClock();
    void pauseStopsTheClock();
    void playNeedsFramesAndNoRecording();
    void videoInfoOfAnEmptyVideoAndDuringPlayback();

private:
    // A dialog showing a loaded video of ten frames 0.1 s apart.
    std::unique_ptr<CTrellonDlg> TenFrames();
};

std::unique_ptr<CTrellonDlg> PlaybackTest::TenFrames()
{
    const QString path = h.dir->filePath("ten.dk2");
    if (!WriteVideo(path, 10))
        return nullptr;
    auto dlg = h.NewDialog();
    if (dlg->LoadVideo(path) != 1)
        return nullptr;
    return dlg;
}

void PlaybackTest::clockMovesTheSliderByCounterTimeAndSpeed()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->OnPlay();
    QVERIFY(dlg->IsPlaying());
    QCOMPARE(dlg->GetPlayTime(), 0.0);

    // Nothing moves while no counter time passes.
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 0);

    h.Advance(0.25);
    dlg->OnPaint();
    QCOMPARE(dlg->GetPlayTime(), 0.25);
    QCOMPARE(dlg->GetSliderPos(), 3); // the first frame at 0.25 s or later
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 4/10"));
    QCOMPARE(TimeText(*dlg), QStringLiteral("Time 0.30"));

    Item<QComboBox>(*dlg, IDC_SPEED)->setCurrentIndex(5); // "2x"
    QCOMPARE(dlg->GetSpeed(), 2.0);
    h.Advance(0.1);
    dlg->PlaybackStep();
    QCOMPARE(dlg->GetPlayTime(), 0.45);
    QCOMPARE(dlg->GetSliderPos(), 5);

    Item<QComboBox>(*dlg, IDC_SPEED)->setCurrentIndex(1); // "1/4"
    h.Advance(0.4);
    dlg->PlaybackStep();
    QCOMPARE(dlg->GetPlayTime(), 0.55);
    QCOMPARE(dlg->GetSliderPos(), 6);
    QVERIFY(dlg->IsPlaying());
}

void PlaybackTest::speedChangeKeepsTheClock()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->OnPlay();
    h.Advance(0.15);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 2);

    Item<QComboBox>(*dlg, IDC_SPEED)->setCurrentIndex(5);
    QCOMPARE(dlg->GetPlayTime(), 0.15);
    QCOMPARE(dlg->GetSliderPos(), 2);
    QVERIFY(dlg->IsPlaying());
    h.Advance(0.1);
    dlg->OnPaint();
    QCOMPARE(dlg->GetPlayTime(), 0.35);
    QCOMPARE(dlg->GetSliderPos(), 4);
}

void PlaybackTest::playbackPastTheLastFrameRewindsAndStops()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->SetSliderPos(6);
    dlg->OnPlay();
    QCOMPARE(dlg->GetPlayTime(), static_cast<double>(0.6f));
    h.Advance(0.5);
    dlg->OnPaint();
    QVERIFY(!dlg->IsPlaying());
    QCOMPARE(dlg->GetSliderPos(), 0);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/10"));

    // Stopped: more counter time moves nothing.
    h.Advance(0.3);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 0);
}

void PlaybackTest::playFromTheLastFrameStopsAtTheFirstStep()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->SetSliderPos(9);
    dlg->OnPlay();
    QVERIFY(dlg->IsPlaying());
    h.Advance(0.04);
    dlg->OnPaint();
    QVERIFY(!dlg->IsPlaying());
    QCOMPARE(dlg->GetSliderPos(), 0);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/10"));
    QCOMPARE(TimeText(*dlg), QStringLiteral("Time 0.00"));
}

void PlaybackTest::movingTheSliderReanchorsTheClock()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->OnPlay();
    h.Advance(0.15);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 2);

    h.Advance(0.5); // time the person spends dragging the slider
    Item<QSlider>(*dlg, IDC_FRAME_SLIDER)->setValue(7);
    QVERIFY(dlg->IsPlaying());
    QCOMPARE(dlg->GetPlayTime(), static_cast<double>(0.7f));
    QCOMPARE(s_nLastSliderPos, 7);

    h.Advance(0.05);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 8);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 9/10"));
}

void PlaybackTest::pauseStopsTheClock()
{
    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->OnPlay();
    h.Advance(0.15);
    dlg->OnPaint();
    dlg->OnPause();
    QVERIFY(!dlg->IsPlaying());
    h.Advance(0.5);
    dlg->OnPaint();
    QCOMPARE(dlg->GetSliderPos(), 2);
    QCOMPARE(dlg->GetPlayTime(), 0.15);

    // Playing again starts from the frame shown, not from where the clock was.
    dlg->OnPlay();
    QCOMPARE(dlg->GetPlayTime(), static_cast<double>(0.2f));
}

void PlaybackTest::playNeedsFramesAndNoRecording()
{
    auto dlg = h.NewDialog();
    dlg->OnPlay();
    QVERIFY(!dlg->IsPlaying());

    StartFakeGame();
    dlg->OnRecord();
    dlg->OnTimer();
    QCOMPARE(FrameCount(*dlg), 1);
    dlg->OnPlay();
    QVERIFY(!dlg->IsPlaying());
    dlg->OnRecord();
}

void PlaybackTest::videoInfoOfAnEmptyVideoAndDuringPlayback()
{
    auto empty = h.NewDialog();
    h.Expect("Stats", "MedianFPS: 0.000\nAvg Bytes/Frame: 0.00", QMessageBox::Ok, QMessageBox::Ok);
    empty->OnVideoInfo();

    auto dlg = TenFrames();
    QVERIFY(dlg);
    dlg->OnPlay();
    bool playingWhileShown = true;
    h.Expect("Stats", {}, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::NoIcon,
             [&] { playingWhileShown = dlg->IsPlaying(); });
    dlg->OnVideoInfo();
    QVERIFY(!playingWhileShown);
    QVERIFY(!dlg->IsPlaying());
    QVERIFY(h.shown.last().text.startsWith(QStringLiteral("MedianFPS: 10.000\n")));
}

TRELLON_UI_TEST(PlaybackTest);
#include "PlaybackTest.moc"
