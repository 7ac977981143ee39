// The dialog's commands and window: loading, saving, clearing, dropped
// files, the command line, the fragment cut, the keys it ignores, the
// question before closing and the detached window.

#include "UiTestSupport.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
#include "ui/qt/ResizableView.h"
#include "ui/qt/TrellonApp.h"
#include "video/Video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <sys/stat.h>

namespace
{
const QMessageBox::StandardButtons kOkCancel = QMessageBox::Ok | QMessageBox::Cancel;
const char kOverwrite[] = "Current video will be overwritten\nContinue??";
} // namespace

class CommandsTest : public UiTest
{
    Q_OBJECT

private slots:
    void loadAndSaveFailuresAreTold();
    void loadShowsTheVideoAndClearEmptiesIt();
    void onlyTheFirstDroppedFileLoads();
    void commandLinePathLoadsWithoutQuotes();
    void extractKeepsFramesNumberedFromOne();
    void keysAreIgnoredAndClosingAsks();
    void largeVideoOpensOneDetachedWindow();
    void russianCaptionsLeaveRunTimeTextsEnglish();
    void everyCaptionFitsItsControlInBothLanguages();
    void exportWritesTheChosenFramesAndCancelLeavesNothing();
};

void CommandsTest::loadAndSaveFailuresAreTold()
{
    auto dlg = NewDialog();
    const QString missing = Path("missing.dk2"), junk = Path("junk.dk2");
    Expect("Error", "Error opening " + missing + " for reading\nNo such file or directory");
    QCOMPARE(dlg->LoadVideo(missing), 0);
    // A FIFO with no writer would block the open for ever; a folder is no video.
    const QString fifo = Path("fifo.dk2");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Expect("Error", "Error opening " + fifo + " for reading\nnot a regular file");
    QCOMPARE(dlg->LoadVideo(fifo), 0);
    const QString folder = Path("folder.dk2");
    QVERIFY(QDir().mkdir(folder));
    Expect("Error", "Error opening " + folder + " for reading\nis a directory");
    QCOMPARE(dlg->LoadVideo(folder), 0);
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("no video, only some text") > 0);
    file.close();
    chosenFile = junk;
    Expect("Error", "Error reading " + junk + "\nNot a Trellon file");
    dlg->OnLoad(); // the half-read video goes without a question
    QCOMPARE(Frames(*dlg), 0);
    QVERIFY(Enabled(*dlg, IDC_RECORD));

    // Over unsaved frames No cancels the load, and the failed load's
    // clearing asks again.
    StartFakeGame();
    RecordTicks(*dlg, 3);
    chosenFile = Path("five.dk2");
    QVERIFY(WriteVideo(chosenFile, 5));
    Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    Expect("TrellonHD", "Load canceled");
    Expect("?", "Clear current video?", kYesNo, QMessageBox::No);
    dlg->OnLoad();
    QCOMPARE(Frames(*dlg), 3);

    chosenFile = Path("no-such-folder/video.dk2");
    Expect("Error", "Error writing to " + chosenFile + "\nNo such file or directory");
    dlg->OnSave();
    chosenFile = Path("saved.dk2");
    dlg->OnSave();
    QVERIFY(QFile::exists(chosenFile));
    dlg->show();
    QVERIFY(dlg->close()); // saved: no question
}

void CommandsTest::loadShowsTheVideoAndClearEmptiesIt()
{
    auto dlg = Loaded(5);
    QVERIFY(dlg);
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/5");
    QCOMPARE(Text(*dlg, IDC_TIME_TEXT), "Time 0.00");
    QVERIFY(!Enabled(*dlg, IDC_RECORD));
    QCOMPARE(Text(*dlg, IDC_BYTES), QString::number(dlg->GetManager().GetVideo().GetBodySize()));
    QCOMPARE(dlg->GetView(), nullptr); // 640 x 480 fits the dialog
    Item<QSlider>(*dlg, IDC_FRAME_SLIDER)->setValue(4);
    dlg->OnPaint();
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 5/5");
    QCOMPARE(Pixel(*dlg, 5, 7), TestPicture(640, 480, 4)[7 * 640 + 5]);
    // The windows paint the same picture in its colours, every pixel.
    QVERIFY(dlg->GetShownImage());
    QCOMPARE(*dlg->GetShownImage(), dlg->GetDisplayImage()->convertToFormat(QImage::Format_RGB32));

    dlg->OnClear(); // a loaded video goes without a question
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/0");
    QCOMPARE(Text(*dlg, IDC_BYTES), "24");
    QVERIFY(dlg->GetDisplayImage());
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    QCOMPARE(dlg->GetDisplayImage()->convertToFormat(QImage::Format_RGB32), black);
    QCOMPARE(*dlg->GetShownImage(), black);
    Expect("Stats", "MedianFPS: 0.000\nAvg Bytes/Frame: 0.00");
    dlg->OnVideoInfo();
}

void CommandsTest::onlyTheFirstDroppedFileLoads()
{
    const QString first = Path("first.dk2"), second = Path("second.dk2"), gone = Path("gone.dk2");
    QVERIFY(WriteVideo(first, 4) && WriteVideo(second, 7));
    auto dlg = NewDialog();
    dlg->OnRecord();
    Expect("Error", "Can't load file while recording");
    dlg->OnDropFiles({first});
    QVERIFY(dlg->IsRecording());
    QCOMPARE(Frames(*dlg), 0);
    dlg->OnRecord();

    dlg->OnDropFiles({first, second});
    QCOMPARE(Frames(*dlg), 4);
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/4");
    Expect("Error", "Error opening " + gone + " for reading\nNo such file or directory");
    dlg->OnDropFiles({gone, second});
    QCOMPARE(Frames(*dlg), 0);
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/0");
    QCOMPARE(Text(*dlg, IDC_BYTES), "24");

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.get(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.get(), &drop);
    QCOMPARE(Text(*dlg, IDC_FRAME_TEXT), "Frame 1/7");
}

void CommandsTest::commandLinePathLoadsWithoutQuotes()
{
    const QString path = Path("start.dk2"), cut = Path("cut.dk2");
    QVERIFY(WriteVideo(path, 3) && WriteVideo(cut, 5));
    QCOMPARE(Frames(*NewDialog("\"" + path + "\"")), 3);
    QCOMPARE(Frames(*NewDialog(Path("\"start\".dk2"))), 3);

    // A file read in part leaves an empty video, open for recording.
    QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
    Expect("Error",
           "Error reading " + cut + "\nthe file ends before the records its header announces");
    auto dlg = NewDialog(cut);
    QCOMPARE(Frames(*dlg), 0);
    QVERIFY(Enabled(*dlg, IDC_RECORD));
}

void CommandsTest::extractKeepsFramesNumberedFromOne()
{
    auto dlg = Loaded(10);
    QVERIFY(dlg);
    fragmentStart = "abc";
    fragmentEnd = "5";
    Expect("Extraction", "Please enter an integer.", QMessageBox::Ok, QMessageBox::Ok,
           QMessageBox::Warning);
    dlg->OnExtract(); // refused: the dialog stays, no question follows
    QCOMPARE(fragmentFound, QStringList({"0", "0"}));
    fragmentStart = "3";
    Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Cancel);
    dlg->OnExtract();
    QCOMPARE(Frames(*dlg), 10);

    Expect("Extract", kOverwrite, kOkCancel, QMessageBox::Ok);
    dlg->OnExtract();
    QCOMPARE(Frames(*dlg), 3);
    std::vector<std::uint8_t> picture(CVideo::PaddedPictureBytes(640, 480));
    for (int k = 0; k < 3; ++k)
    {
        QVERIFY(dlg->GetManager().GetVideo().GetFrame(k, picture.data(), false));
        const std::vector<std::uint8_t> kept = TestPicture(640, 480, k + 2);
        QVERIFY(std::equal(kept.begin(), kept.end(), picture.begin()));
    }
}

void CommandsTest::keysAreIgnoredAndClosingAsks()
{
    auto dlg = NewDialog();
    dlg->show();
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
        for (QWidget* target : {static_cast<QWidget*>(dlg.get()), dlg->GetDlgItem(IDC_RECORD)})
        {
            QTest::keyClick(target, key);
            QVERIFY(dlg->isVisible());
            QVERIFY(!dlg->IsRecording());
        }
    QVERIFY(dlg->close()); // empty: no question

    StartFakeGame();
    RecordTicks(*dlg, 2);
    dlg->show();
    dlg->OnPlay();
    Expect("Closing application", "You have some unsaved frames, exit anyway?", kYesNo,
           QMessageBox::No, QMessageBox::Question);
    QVERIFY(!dlg->close());
    QVERIFY(dlg->isVisible());
    QVERIFY(!dlg->IsPlaying());
    Expect("Closing application", "You have some unsaved frames, exit anyway?", kYesNo,
           QMessageBox::Yes, QMessageBox::Question);
    QVERIFY(dlg->close());
    QVERIFY(!dlg->isVisible());
}

void CommandsTest::largeVideoOpensOneDetachedWindow()
{
    auto dlg = Loaded(2, 720, 540);
    QVERIFY(dlg);
    CResizableView* view = dlg->GetView();
    QVERIFY(view != nullptr);
    QVERIFY(view->isVisible());
    QCOMPARE(view->size(), QSize(720, 540));
    dlg->OnDetachVideo();
    QCOMPARE(dlg->findChildren<CResizableView*>().size(), 1);
    // A picture larger than the screen opens at the most the screen's free
    // area shows, in the picture's shape.
    {
        auto huge = Loaded(1, 1920, 1080);
        QVERIFY(huge && huge->GetView());
        CResizableView& big = *huge->GetView();
        const QSize free = big.screen()->availableGeometry().size();
        const QSize shown = big.size(), framed = big.frameGeometry().size();
        QVERIFY2(framed.width() <= free.width() && framed.height() <= free.height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(framed.width()).arg(framed.height())));
        QVERIFY(framed.width() == free.width() || framed.height() == free.height());
        QVERIFY(qAbs(shown.width() * 1080 - shown.height() * 1920) <= 1920);
    }
    const QPointer<CResizableView> watch(view);
    QTest::keyClick(view, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(watch.isNull());
    QCOMPARE(dlg->GetView(), nullptr);

    // While the window is open the main dialog's area shows nothing; when it
    // closes, the area paints the frame under the slider again at once.
    auto small = Loaded(3);
    QVERIFY(small);
    small->show();
    QVERIFY(QTest::qWaitForWindowExposed(small.get()));
    small->OnDetachVideo();
    small->SetSliderPos(2);
    small->GetView()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_COMPARE(Text(*small, IDC_FRAME_TEXT), "Frame 3/3");
}

void CommandsTest::russianCaptionsLeaveRunTimeTextsEnglish()
{
    QTranslator russian, toolkit;
    QVERIFY(CTrellonApp::InstallTranslators(QLocale(QLocale::Russian), russian, toolkit));
    auto dlg = NewDialog();
    // The toolkit's buttons speak Russian too (Debian's qt6-translations-l10n).
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    QCoreApplication::removeTranslator(&russian);
    QCoreApplication::removeTranslator(&toolkit);
    QCOMPARE(cancel, QStringLiteral("Отмена"));
    QVERIFY(!CTrellonApp::InstallTranslators(QLocale(QLocale::German), russian, toolkit));
    QCOMPARE(Text(*dlg, IDC_SAVE), QStringLiteral("Сохранить (&S)"));
    QCOMPARE(Text(*dlg, IDC_DETACH), QStringLiteral("Отцепить\n видео (&V)"));
    QCOMPARE(Item<QComboBox>(*dlg, IDC_SPEED)->itemText(3).trimmed(), QStringLiteral("норма"));
    QCOMPARE(Text(*dlg, IDC_RECORD), QStringLiteral("Start Recording"));
    Expect(QStringLiteral("Stats"), QStringLiteral("MedianFPS: 0.000\nAvg Bytes/Frame: 0.00"));
    dlg->OnVideoInfo();
}

// The room a caption takes, line by line, in the control's font.
QSize CaptionSize(const QWidget& control, const QString& text)
{
    return QFontMetrics(control.font()).size(Qt::TextShowMnemonic, text);
}

void CommandsTest::everyCaptionFitsItsControlInBothLanguages()
{
    for (const bool russian : {false, true})
    {
        QTranslator dialogs, toolkit;
        if (russian)
            QVERIFY(CTrellonApp::InstallTranslators(QLocale(QLocale::Russian), dialogs, toolkit));
        auto dlg = NewDialog();
        QCoreApplication::removeTranslator(&dialogs);
        QCoreApplication::removeTranslator(&toolkit);
        const QString language = russian ? QStringLiteral("ru: ") : QStringLiteral("en: ");
        for (const QPushButton* b : dlg->findChildren<QPushButton*>())
        {
            const QSize text = CaptionSize(*b, b->text());
            const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
            QVERIFY2(text.width() + margin <= b->width() && text.height() <= b->height(),
                     qPrintable(language + b->text()));
        }
        for (const QCheckBox* c : dlg->findChildren<QCheckBox*>())
        {
            const int indicator = c->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                  c->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            const QSize text = CaptionSize(*c, c->text());
            QVERIFY2(indicator + text.width() <= c->width() && text.height() <= c->height(),
                     qPrintable(language + c->text()));
        }
        for (const QLabel* l : dlg->findChildren<QLabel*>())
            QVERIFY2(CaptionSize(*l, l->text()).width() <= l->width(),
                     qPrintable(language + l->text()));
        for (const QGroupBox* g : dlg->findChildren<QGroupBox*>())
            QVERIFY2(CaptionSize(*g, g->title()).width() + 8 <= g->width(),
                     qPrintable(language + g->title()));
    }
}

void CommandsTest::exportWritesTheChosenFramesAndCancelLeavesNothing()
{
    auto dlg = Loaded(6);
    QVERIFY(dlg);
    // The dialog offers the whole video, then the fragment numbers last used.
    exportFile = Path("whole.mkv");
    exportFormat = 2; // MKV, lossless
    QTest::keyClick(dlg.get(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(exportFound, (QStringList{"0", "1", "6", "1"}));
    QVERIFY(QFileInfo(Path("whole.mkv")).size() > 0);

    exportFormat = -1; // the dialog cancelled: nothing is asked or written
    exportFile = Path("never.gif");
    dlg->OnExport();
    QVERIFY(!QFileInfo::exists(Path("never.gif")));

    // A name the formats don't know is refused with the reason.
    exportFormat = 3;
    exportFile = Path("frames.avi");
    Expect("Error", "Error writing to " + Path("frames.avi") +
                        "\nthe file name must end in .mp4, .webm, .mkv or .gif");
    dlg->OnExport();
    QVERIFY(!QFileInfo::exists(Path("frames.avi")));

    // Not while recording.
    StartFakeGame();
    auto recording = NewDialog();
    recording->OnRecord();
    recording->OnTimer();
    QCOMPARE(Frames(*recording), 1);
    exportFound.clear();
    recording->OnExport();
    QVERIFY(exportFound.isEmpty());
    recording->OnRecord();
}

std::unique_ptr<QObject> MakeCommandsTest()
{
    return std::make_unique<CommandsTest>();
}

#include "CommandsTest.moc"
