// The dialog's file commands (load, save, clear, dropped files) and the
// fragment cut, with the texts the person reads.

#include "FakeGame.h"
#include "UiTestSupport.h"
#include "Video.h"
#include "VideoManager.h"

#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QUrl>

namespace
{
const QMessageBox::StandardButtons kYesNo = QMessageBox::Yes | QMessageBox::No;
const QMessageBox::StandardButtons kOkCancel = QMessageBox::Ok | QMessageBox::Cancel;
const char kOverwrite[] = "Current video will be overwritten\nContinue??";
} // namespace

class CommandsTest : public UiTest
{
    Q_OBJECT

private slots:
    void loadOfAMissingFileSaysSo();
    void loadOfAFileThatIsNoVideoEndsWithAnEmptyVideo();
    void loadOverUnsavedFramesCanBeDeclined();
    void saveReportsAFailureAndMarksASuccess();
    void loadShowsTheFirstFrameAndClearShowsBlack();
    void onlyTheFirstDroppedFileIsLoaded();
    void dropDuringARecordingIsRefused();
    void fileDroppedOnTheWindowIsLoaded();
    void extractKeepsTheFramesNumberedFromOne();
    void extractCanBeCancelledAtTheQuestion();
    void fragmentDialogRefusesLetters();
    void fragmentDialogTakesAnyIntegers();

private:
    std::unique_ptr<CTrellonDlg> Loaded(int frames, const QString& name = "video.dk2");
    std::unique_ptr<CTrellonDlg> WithUnsavedFrames(int frames);
};

std::unique_ptr<CTrellonDlg> CommandsTest::Loaded(int frames, const QString& name)
{
    const QString path = h.dir->filePath(name);
    if (!WriteVideo(path, frames))
        return nullptr;
    auto dlg = h.NewDialog();
    if (dlg->LoadVideo(path) != 1)
        return nullptr;
    return dlg;
}

std::unique_ptr<CTrellonDlg> CommandsTest::WithUnsavedFrames(int frames)
{
    StartFakeGame();
    auto dlg = h.NewDialog();
    RecordTicks(*dlg, frames);
    CFakeGame::Get().EndProcess();
    return dlg;
}

void CommandsTest::loadOfAMissingFileSaysSo()
{
    auto dlg = h.NewDialog();
    const QString path = h.dir->filePath("missing.dk2");
    h.Expect("Error", "Error opening " + path + " for reading", QMessageBox::Ok, QMessageBox::Ok);
    QCOMPARE(dlg->LoadVideo(path), 0);
    QCOMPARE(FrameCount(*dlg), 0);
    QVERIFY(dlg->GetDlgItem(IDC_RECORD)->isEnabled());
}

void CommandsTest::loadOfAFileThatIsNoVideoEndsWithAnEmptyVideo()
{
    const QString path = h.dir->filePath("junk.dk2");
    {
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("this is no video, only some text");
    }
    auto dlg = h.NewDialog();
    h.Expect("Error", "Error reading " + path + "\nNot a Trellon file", QMessageBox::Ok,
             QMessageBox::Ok);
    QCOMPARE(dlg->LoadVideo(path), 0);

    // Through the Load button: the half-read video is dropped without asking.
    h.chosenFile = path;
    h.Expect("Error", "Error reading " + path + "\nNot a Trellon file", QMessageBox::Ok,
             QMessageBox::Ok);
    dlg->OnLoad();
    QCOMPARE(h.shown.size(), 2);
    QCOMPARE(FrameCount(*dlg), 0);
    QVERIFY(dlg->GetManager().GetVideo().IsAppendable());
    QVERIFY(dlg->GetDlgItem(IDC_RECORD)->isEnabled());
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/0"));
}

void CommandsTest::loadOverUnsavedFramesCanBeDeclined()
{
    auto dlg = WithUnsavedFrames(3);
    QCOMPARE(FrameCount(*dlg), 3);
    h.chosenFile = h.dir->filePath("other.dk2");
    QVERIFY(WriteVideo(h.chosenFile, 5));

    h.Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    h.Expect(QGuiApplication::applicationDisplayName(), "Load canceled", QMessageBox::Ok,
             QMessageBox::Ok);
    h.Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    dlg->OnLoad();
    QCOMPARE(FrameCount(*dlg), 3);
    QVERIFY(!dlg->GetManager().GetVideo().IsSaved());

    h.Expect("?", "Clear current video?", kYesNo, QMessageBox::Yes);
    dlg->OnLoad();
    QCOMPARE(FrameCount(*dlg), 5);
}

void CommandsTest::saveReportsAFailureAndMarksASuccess()
{
    auto dlg = WithUnsavedFrames(2);
    h.chosenFile = h.dir->filePath("no-such-folder/video.dk2");
    h.Expect("Error", "Error writing to " + h.chosenFile + "\n", QMessageBox::Ok, QMessageBox::Ok);
    dlg->OnSave();
    QVERIFY(!dlg->GetManager().GetVideo().IsSaved());

    h.chosenFile = h.dir->filePath("video.dk2");
    dlg->OnSave();
    QVERIFY(QFile::exists(h.chosenFile));
    QVERIFY(dlg->close()); // nothing unsaved: no question

    // Nothing is written when the chooser is cancelled.
    auto other = WithUnsavedFrames(1);
    h.chosenFile.clear();
    other->OnSave();
    QVERIFY(!other->GetManager().GetVideo().IsSaved());
}

void CommandsTest::loadShowsTheFirstFrameAndClearShowsBlack()
{
    auto dlg = Loaded(5);
    QVERIFY(dlg);
    QCOMPARE(dlg->GetSliderPos(), 0);
    QCOMPARE(dlg->GetSliderMax(), 4);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/5"));
    QCOMPARE(TimeText(*dlg), QStringLiteral("Time 0.00"));
    QVERIFY(!dlg->GetDlgItem(IDC_RECORD)->isEnabled());
    const std::int64_t body = dlg->GetManager().GetVideo().GetBodySize();
    QVERIFY(body > 24 + 5 * 16);
    QCOMPARE(Item<QLineEdit>(*dlg, IDC_BYTES)->text(), QString::number(body));

    dlg->SetSliderPos(4);
    dlg->ShowFrame();
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 5/5"));
    QCOMPARE(TimeText(*dlg), QStringLiteral("Time 0.40"));
    QVERIFY(dlg->GetDisplayImage() != nullptr);
    QCOMPARE(dlg->GetDisplayImage()->pixelIndex(5, 7),
             static_cast<int>(TestPicture(640, 480, 4)[7 * 640 + 5]));

    dlg->OnClear();
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/0"));
    const QImage* image = dlg->GetDisplayImage();
    QVERIFY(image != nullptr);
    QCOMPARE(image->size(), QSize(640, 480));
    int lit = 0;
    for (int y = 0; y < image->height(); ++y)
        for (int x = 0; x < image->width(); ++x)
            lit += image->pixel(x, y) != qRgb(0, 0, 0);
    QCOMPARE(lit, 0);
}

void CommandsTest::onlyTheFirstDroppedFileIsLoaded()
{
    const QString first = h.dir->filePath("first.dk2"), second = h.dir->filePath("second.dk2");
    QVERIFY(WriteVideo(first, 4));
    QVERIFY(WriteVideo(second, 7));
    auto dlg = h.NewDialog();
    dlg->OnDropFiles({first, second, second});
    QCOMPARE(FrameCount(*dlg), 4);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/4"));

    // A file that can't be read leaves an empty video.
    h.Expect("Error", "Error opening " + h.dir->filePath("gone.dk2") + " for reading",
             QMessageBox::Ok, QMessageBox::Ok);
    dlg->OnDropFiles({h.dir->filePath("gone.dk2"), second});
    QCOMPARE(FrameCount(*dlg), 0);
}

void CommandsTest::dropDuringARecordingIsRefused()
{
    const QString path = h.dir->filePath("dropped.dk2");
    QVERIFY(WriteVideo(path, 4));
    auto dlg = h.NewDialog();
    dlg->OnRecord();
    h.Expect("Error", "Can't load file while recording", QMessageBox::Ok, QMessageBox::Ok);
    dlg->OnDropFiles({path});
    QCOMPARE(FrameCount(*dlg), 0);
    QVERIFY(dlg->IsRecording());
    QVERIFY(dlg->GetManager().GetVideo().IsAppendable());
    dlg->OnRecord();
}

void CommandsTest::fileDroppedOnTheWindowIsLoaded()
{
    const QString path = h.dir->filePath("dragged.dk2");
    QVERIFY(WriteVideo(path, 6));
    auto dlg = h.NewDialog();
    dlg->show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.get(), &drop);
    QCOMPARE(FrameCount(*dlg), 6);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/6"));
}

void CommandsTest::extractKeepsTheFramesNumberedFromOne()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    // From the first to the last frame: all of them.
    h.fragmentStart = "1";
    h.fragmentEnd = "10";
    h.Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Ok);
    dlg->OnExtract();
    QCOMPARE(FrameCount(*dlg), 10);
    QVERIFY(DecodedFrame(dlg->GetManager().GetVideo(), 0) == TestPicture(640, 480, 0));
    QVERIFY(DecodedFrame(dlg->GetManager().GetVideo(), 9) == TestPicture(640, 480, 9));

    h.fragmentStart = "3";
    h.fragmentEnd = "5";
    h.Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Ok);
    dlg->OnExtract();
    QCOMPARE(h.fragmentFound, QStringList({"0", "0"}));
    QCOMPARE(FrameCount(*dlg), 3);
    QCOMPARE(dlg->GetSliderPos(), 0);
    QCOMPARE(dlg->GetSliderMax(), 2);
    QCOMPARE(FrameText(*dlg), QStringLiteral("Frame 1/3"));
    const CVideo& fragment = dlg->GetManager().GetVideo();
    QVERIFY(DecodedFrame(fragment, 0) == TestPicture(640, 480, 2));
    QVERIFY(DecodedFrame(fragment, 2) == TestPicture(640, 480, 4));
    QCOMPARE(Item<QLineEdit>(*dlg, IDC_BYTES)->text(), QString::number(fragment.GetBodySize()));
}

void CommandsTest::extractCanBeCancelledAtTheQuestion()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    const CVideo* before = &dlg->GetManager().GetVideo();
    h.fragmentStart = "3";
    h.fragmentEnd = "5";
    h.Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Cancel);
    dlg->OnExtract();
    QCOMPARE(&dlg->GetManager().GetVideo(), before);
    QCOMPARE(FrameCount(*dlg), 10);
    QVERIFY(dlg->GetManager().GetVideo().IsSaved());
}

void CommandsTest::fragmentDialogRefusesLetters()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    h.fragmentStart = "abc";
    h.fragmentEnd = "5";
    h.Expect("Extraction", "Please enter an integer.", QMessageBox::Ok, QMessageBox::Ok,
             QMessageBox::Warning);
    dlg->OnExtract(); // refused: no question about overwriting follows
    QVERIFY(h.fragmentStayedOpen);
    QCOMPARE(FrameCount(*dlg), 10);

    h.fragmentStart = "2";
    h.fragmentEnd = "5x";
    h.Expect("Extraction", "Please enter an integer.", QMessageBox::Ok, QMessageBox::Ok,
             QMessageBox::Warning);
    dlg->OnExtract();
    QVERIFY(h.fragmentStayedOpen);
    QCOMPARE(FrameCount(*dlg), 10);
}

void CommandsTest::fragmentDialogTakesAnyIntegers()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    // The end before the start is taken; cancelled here at the question.
    h.fragmentStart = "7";
    h.fragmentEnd = "2";
    h.Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Cancel);
    dlg->OnExtract();
    QVERIFY(!h.fragmentStayedOpen);
    QCOMPARE(FrameCount(*dlg), 10);

    // A start before the first frame counts from the first.
    h.fragmentStart = " -2 ";
    h.fragmentEnd = "4";
    h.Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Ok);
    dlg->OnExtract();
    QVERIFY(!h.fragmentStayedOpen);
    QCOMPARE(FrameCount(*dlg), 4);
    QVERIFY(DecodedFrame(dlg->GetManager().GetVideo(), 0) == TestPicture(640, 480, 0));
}

TRELLON_UI_TEST(CommandsTest);
#include "CommandsTest.moc"
