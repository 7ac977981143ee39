#include "UiTestSupport.h"

#include "capture/GameLayout.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
#include "ui/qt/ExportDlg.h"
#include "ui/qt/ExtractDlg.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cmath>

namespace
{
constexpr std::uint32_t kPointer = 100u | (50u << 16);

std::vector<std::uint8_t> TestPalette()
{
    std::vector<std::uint8_t> palette(kPaletteBytes);
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return palette;
}

QString Describe(const QString& caption, const QString& text, QMessageBox::StandardButtons buttons,
                 QMessageBox::Icon icon)
{
    return QStringLiteral("[%1] %2 (buttons 0x%3, icon %4)")
        .arg(caption, text)
        .arg(static_cast<int>(buttons), 0, 16)
        .arg(static_cast<int>(icon));
}
} // namespace

void UiTest::init()
{
    s_nLastKind = 0;
    s_bInTimer = 0;
    s_nLastSliderPos = -1;
    g_nDisplayWidth = 640;
    g_nDisplayHeight = 480;
    s_bViewOpen = 0;
    CFakeGame::Get().Reset();
    m_expected.clear();
    chosenFile = fragmentStart = fragmentEnd = QString();
    fragmentFound.clear();
    m_ticks = 1000000;
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void UiTest::cleanup()
{
    QStringList missing;
    for (const Box& box : std::exchange(m_expected, {}))
        missing.append(Describe(box.caption, box.text, box.buttons, box.icon));
    QVERIFY2(missing.isEmpty(), qPrintable("message boxes not shown: " + missing.join(", ")));
}

void UiTest::Expect(const QString& caption, const QString& text,
                    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton answer,
                    QMessageBox::Icon icon, std::function<void()> whileOpen)
{
    m_expected.append({caption, text, buttons, answer, icon, std::move(whileOpen)});
}

void UiTest::Advance(double seconds)
{
    m_ticks += std::llround(seconds * 1000.0);
}

std::unique_ptr<CTrellonDlg> UiTest::NewDialog(const QString& commandLine)
{
    UiServices services;
    services.messageBox = [this](QWidget*, const QString& caption, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
    {
        const QString shown = Describe(caption, text, buttons, icon);
        if (m_expected.isEmpty())
        {
            QTest::qFail(qPrintable("unexpected message box " + shown), __FILE__, __LINE__);
            return QMessageBox::NoButton;
        }
        const Box box = m_expected.takeFirst();
        if (caption != box.caption || (!box.text.isEmpty() && text != box.text) ||
            buttons != box.buttons || icon != box.icon)
            QTest::qFail(qPrintable("message box " + shown + ", expected " +
                                    Describe(box.caption, box.text, box.buttons, box.icon)),
                         __FILE__, __LINE__);
        if (box.whileOpen)
            box.whileOpen();
        return box.answer;
    };
    services.chooseFile = [this](QWidget*, bool) { return chosenFile; };
    services.chooseExportFile = [this](QWidget*, const QString&) { return exportFile; };
    // The fragment dialog is filled in and confirmed; any other is cancelled.
    services.runModal = [this](QDialog& dialog)
    {
        if (auto* exporting = qobject_cast<CExportDlg*>(&dialog))
        {
            exportFound = {
                QString::number(exporting->GetFormat()), QString::number(exporting->GetFirst()),
                QString::number(exporting->GetLast()), QString::number(exporting->GetScale())};
            if (exportFormat < 0)
                return static_cast<int>(QDialog::Rejected);
            exporting->GetFormatList()->setCurrentIndex(exportFormat);
            exporting->accept();
            return exporting->result();
        }
        auto* fragment = qobject_cast<CExtractDlg*>(&dialog);
        if (fragment == nullptr)
            return static_cast<int>(QDialog::Rejected);
        fragmentFound = {fragment->GetStartEdit()->text(), fragment->GetEndEdit()->text()};
        fragment->GetStartEdit()->setText(fragmentStart);
        fragment->GetEndEdit()->setText(fragmentEnd);
        fragment->accept();
        return fragment->result();
    };
    services.counter = [this] { return m_ticks; };
    services.counterFrequency = 1000;
    services.journalFolder =
        journalFolder.isEmpty() ? Path(QStringLiteral("journals")) : journalFolder;
    auto dlg = std::make_unique<CTrellonDlg>(commandLine, std::move(services));
    dlg->OnInitDialog();
    return dlg;
}

std::unique_ptr<CTrellonDlg> UiTest::Loaded(int frames, int width, int height)
{
    const QString path = Path(QStringLiteral("%1x%2-%3.dk2").arg(width).arg(height).arg(frames));
    auto dlg = NewDialog();
    if (!WriteVideo(path, frames, width, height) || dlg->LoadVideo(path) != 1)
        return nullptr;
    return dlg;
}

std::vector<std::uint8_t> TestPicture(int width, int height, int seed)
{
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] =
            static_cast<std::uint8_t>((i * 13 + static_cast<std::size_t>(seed) * 7) % 200 + 1);
    return picture;
}

bool WriteVideo(const QString& path, int frames, int width, int height)
{
    CVideo video;
    if (!video.SetGeometry(width, width, height, 0, 0))
        return false;
    const std::vector<std::uint8_t> palette = TestPalette();
    for (int k = 0; k < frames; ++k)
    {
        if (video.AddFrame(kPointer, palette.data(), TestPicture(width, height, k).data()) !=
            AF_ADDED)
            return false;
        video.SetFrameTime(k, static_cast<float>(k) / 10.0f);
    }
    return SaveVideoFile(video, path.toStdString()) == 1;
}

void StartFakeGame()
{
    constexpr std::uint32_t kScreen = 0x20000000;
    CFakeGame& game = CFakeGame::Get();
    game.ShowWindow("WARCRAFT II", 99);
    game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
    game.Write8(kVersionByteAddress, kVersionByte2020);
    game.Write32(0x004D4A94, kScreen); // the screen pointer
    const std::vector<std::uint8_t> palette = TestPalette();
    game.Write(0x004AE844, palette.data(), palette.size());
    game.Write32(0x004D5134, kPointer);
    game.Map(kScreen, TestPicture(640, 480, 0));
    game.Write32(0x004D4A90, 640u | (480u << 16)); // the screen size
}

void RecordTicks(CTrellonDlg& dlg, int ticks)
{
    dlg.OnRecord();
    for (int n = 0; n < ticks; ++n)
        dlg.OnTimer();
    dlg.OnRecord();
}

int Frames(const CTrellonDlg& dlg)
{
    return dlg.GetManager().GetVideo().GetFrameCount();
}

int Pixel(const CTrellonDlg& dlg, int x, int y)
{
    const QImage* image = dlg.GetDisplayImage();
    return image == nullptr ? -1 : image->pixelIndex(x, y);
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("TrellonHD"));
    int failures = 0;
    for (const auto make : {MakeCommandsTest, MakeRecordingTest})
        failures += QTest::qExec(make().get(), argc, argv);
    return failures == 0 ? 0 : 1;
}
