// The main dialog as a window: its start from the command line, the keys it
// ignores, the question before closing and the detached video window.

#include "ResizableView.h"
#include "UiTestSupport.h"
#include "Video.h"
#include "VideoManager.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace
{
void DeletePostponed()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ExpectCloseQuestion(UiHarness& h, QMessageBox::StandardButton answer)
{
    h.Expect("Closing application", "You have some unsaved frames, exit anyway?",
             QMessageBox::Yes | QMessageBox::No, answer, QMessageBox::Question);
}
} // namespace

class TrellonDlgTest : public UiTest
{
    Q_OBJECT

private slots:
    void commandLineVideoIsLoadedWithoutItsQuotes();
    void initialisationSetsNormalSpeedAndThirtyFps();
    void escapeAndEnterDoNothingAndF1ShowsAbout();
    void closingWithUnsavedFramesAsks();
    void closingASavedOrEmptyVideoAsksNothing();
    void largeVideoOpensTheDetachedWindowAtItsSize();
    void detachedWindowIsOneAndGoesWhenClosed();
};

void TrellonDlgTest::commandLineVideoIsLoadedWithoutItsQuotes()
{
    const QString path = h.dir->filePath("start.dk2");
    QVERIFY(WriteVideo(path, 3));
    {
        CTrellonDlg dlg("\"" + path + "\"", h.Services());
        QCOMPARE(FrameCount(dlg), 0); // nothing before the dialog starts
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(FrameCount(dlg), 3);
        QCOMPARE(FrameText(dlg), QStringLiteral("Frame 1/3"));
    }
    // Quotes anywhere in the text go, as a shell's would.
    CTrellonDlg dlg(h.dir->path() + "/\"start\".dk2", h.Services());
    dlg.OnInitDialog();
    QCOMPARE(FrameCount(dlg), 3);

    // Only quotes: nothing to load and nothing to tell.
    CTrellonDlg quotes("\"\"", h.Services());
    quotes.OnInitDialog();
    QCOMPARE(FrameCount(quotes), 0);
}

void TrellonDlgTest::initialisationSetsNormalSpeedAndThirtyFps()
{
    CTrellonDlg dlg(QString(), h.Services());
    auto* speed = Item<QComboBox>(dlg, IDC_SPEED);
    auto* fps = Item<QComboBox>(dlg, IDC_TARGET_FPS);
    speed->setCurrentIndex(8);
    fps->setCurrentIndex(0);
    QCOMPARE(dlg.GetSpeed(), 4.0);
    dlg.OnInitDialog();
    QCOMPARE(speed->currentIndex(), 3);
    QCOMPARE(dlg.GetSpeed(), 1.0);
    QCOMPARE(fps->currentIndex(), 13);
    QCOMPARE(fps->currentText(), QStringLiteral("30"));
    dlg.OnRecord();
    QCOMPARE(dlg.GetTimerPeriodMs(), 33u);
    dlg.OnRecord();
}

void TrellonDlgTest::escapeAndEnterDoNothingAndF1ShowsAbout()
{
    auto dlg = h.NewDialog();
    dlg->show();
    QVERIFY(dlg->isVisible());
    const int result = dlg->result();

    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->result(), result);

    auto* record = Item<QPushButton>(*dlg, IDC_RECORD);
    record->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
    {
        QTest::keyClick(record, key);
        QTest::keyClick(dlg.get(), key);
        QVERIFY(dlg->isVisible());
        QCOMPARE(dlg->result(), result);
        QVERIFY(!dlg->IsRecording());
    }
    QTest::keyClick(Item<QPushButton>(*dlg, IDC_CLEAR), Qt::Key_Escape);
    QVERIFY(dlg->isVisible());
    QVERIFY(h.otherDialogs.isEmpty());

    // F1 is the one key the filter answers: the About box.
    QTest::keyClick(record, Qt::Key_F1);
    QCOMPARE(h.otherDialogs, QStringList{"CAboutDlg"});
    QVERIFY(dlg->isVisible());

    // The button itself still works.
    record->click();
    QVERIFY(dlg->IsRecording());
    dlg->OnRecord();
}

void TrellonDlgTest::closingWithUnsavedFramesAsks()
{
    StartFakeGame();
    auto dlg = h.NewDialog();
    RecordTicks(*dlg, 2);
    dlg->show();
    dlg->OnPlay();
    QVERIFY(dlg->IsPlaying());

    ExpectCloseQuestion(h, QMessageBox::No);
    QVERIFY(!dlg->close());
    QVERIFY(dlg->isVisible());
    QVERIFY(!dlg->IsPlaying());
    QCOMPARE(FrameCount(*dlg), 2);

    ExpectCloseQuestion(h, QMessageBox::Yes);
    QVERIFY(dlg->close());
    QVERIFY(!dlg->isVisible());
    QCOMPARE(h.shown.size(), 2);
}

void TrellonDlgTest::closingASavedOrEmptyVideoAsksNothing()
{
    auto empty = h.NewDialog();
    empty->show();
    QVERIFY(empty->close());
    QVERIFY(!empty->isVisible());

    const QString path = h.dir->filePath("saved.dk2");
    QVERIFY(WriteVideo(path, 2));
    auto loaded = h.NewDialog();
    QCOMPARE(loaded->LoadVideo(path), 1);
    loaded->show();
    loaded->OnPlay();
    QVERIFY(loaded->close());
    QVERIFY(!loaded->isVisible());
    QVERIFY(h.shown.isEmpty());
}

void TrellonDlgTest::largeVideoOpensTheDetachedWindowAtItsSize()
{
    const QString small = h.dir->filePath("small.dk2"), large = h.dir->filePath("large.dk2");
    QVERIFY(WriteVideo(small, 2, 640, 480));
    QVERIFY(WriteVideo(large, 2, 800, 600));

    auto dlg = h.NewDialog();
    QCOMPARE(dlg->LoadVideo(small), 1);
    QCOMPARE(dlg->GetView(), nullptr);
    QCOMPARE(s_bViewOpen, 0);

    QCOMPARE(dlg->LoadVideo(large), 1);
    QVERIFY(dlg->GetView() != nullptr);
    QCOMPARE(s_bViewOpen, 1);
    QVERIFY(dlg->GetView()->isVisible());
    QCOMPARE(dlg->GetView()->size(), QSize(800, 600));
    QCOMPARE(g_nDisplayWidth, 800);
    QCOMPARE(g_nDisplayHeight, 600);
    QVERIFY(dlg->GetDisplayImage() != nullptr);
    QCOMPARE(dlg->GetDisplayImage()->size(), QSize(800, 600));
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/2"));
}

void TrellonDlgTest::detachedWindowIsOneAndGoesWhenClosed()
{
    auto dlg = h.NewDialog();
    dlg->OnDetachVideo();
    QPointer<CResizableView> view = dlg->GetView();
    QVERIFY(view);
    QCOMPARE(s_bViewOpen, 1);
    dlg->OnDetachVideo();
    QCOMPARE(dlg->GetView(), view.data());
    QCOMPARE(dlg->findChildren<CResizableView*>().size(), 1);

    view->close();
    DeletePostponed();
    QVERIFY(view.isNull());
    QCOMPARE(dlg->GetView(), nullptr);
    QCOMPARE(s_bViewOpen, 0);

    // Escape in the window closes it as well, and a new one can follow.
    dlg->OnDetachVideo();
    view = dlg->GetView();
    QVERIFY(view);
    QTest::keyClick(view.data(), Qt::Key_Escape);
    DeletePostponed();
    QVERIFY(view.isNull());
    QCOMPARE(dlg->GetView(), nullptr);
    QCOMPARE(s_bViewOpen, 0);

    // One left open goes with the dialog.
    dlg->OnDetachVideo();
    view = dlg->GetView();
    dlg.reset();
    QVERIFY(view.isNull());
    QCOMPARE(s_bViewOpen, 0);
}

TRELLON_UI_TEST(TrellonDlgTest);
#include "TrellonDlgTest.moc"
