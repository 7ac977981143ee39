#include "UiTestSupport.h"

#include "ExtractDlg.h"
#include "FakeGame.h"
#include "GameLayout.h"
#include "Video.h"
#include "VideoFile.h"
#include "VideoManager.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace
{
constexpr std::uint32_t kScreen = 0x20000000;

std::vector<std::function<std::unique_ptr<QObject>()>>& Registry()
{
    static std::vector<std::function<std::unique_ptr<QObject>()>> registry;
    return registry;
}

QString Describe(const QString& caption, const QString& text)
{
    return QStringLiteral("[%1] %2").arg(caption, text);
}
} // namespace

// ---------------------------------------------------------------------------
// The services

void UiHarness::Reset()
{
    expected.clear();
    shown.clear();
    chosenFile.clear();
    fragmentStart.clear();
    fragmentEnd.clear();
    fragmentFound.clear();
    fragmentStayedOpen = false;
    otherDialogs.clear();
    ticks = 1000000;
    dir = std::make_unique<QTemporaryDir>();
}

UiServices UiHarness::Services()
{
    UiServices services;
    services.messageBox = [this](QWidget* owner, const QString& caption, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
    { return Answer(owner, caption, text, buttons, icon); };
    services.chooseFile = [this](QWidget*, bool) { return chosenFile; };
    services.runModal = [this](QDialog& dialog) { return RunModal(dialog); };
    services.counter = [this] { return ticks; };
    services.counterFrequency = 1000;
    return services;
}

void UiHarness::Expect(const QString& caption, const QString& text,
                       QMessageBox::StandardButtons buttons, QMessageBox::StandardButton answer,
                       QMessageBox::Icon icon, std::function<void()> whileOpen)
{
    expected.append({caption, text, buttons, answer, icon, std::move(whileOpen)});
}

void UiHarness::Advance(double seconds)
{
    ticks += static_cast<std::int64_t>(std::llround(seconds * 1000.0));
}

std::unique_ptr<CTrellonDlg> UiHarness::NewDialog(const QString& commandLine)
{
    auto dlg = std::make_unique<CTrellonDlg>(commandLine, Services());
    dlg->OnInitDialog();
    return dlg;
}

QMessageBox::StandardButton UiHarness::Answer(QWidget* owner, const QString& caption,
                                              const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::Icon icon)
{
    shown.append({owner, caption, text, buttons, icon});
    if (expected.isEmpty())
    {
        QTest::qFail(
            qPrintable(QStringLiteral("unexpected message box ") + Describe(caption, text)),
            __FILE__, __LINE__);
        return QMessageBox::NoButton;
    }
    const ExpectedBox box = expected.takeFirst();
    if (caption != box.caption || (!box.text.isEmpty() && text != box.text) ||
        buttons != box.buttons || icon != box.icon)
    {
        QTest::qFail(qPrintable(QStringLiteral("message box ") + Describe(caption, text) +
                                QStringLiteral(" buttons 0x%1 icon %2, expected ")
                                    .arg(static_cast<int>(buttons), 0, 16)
                                    .arg(static_cast<int>(icon)) +
                                Describe(box.caption, box.text) +
                                QStringLiteral(" buttons 0x%1 icon %2")
                                    .arg(static_cast<int>(box.buttons), 0, 16)
                                    .arg(static_cast<int>(box.icon))),
                     __FILE__, __LINE__);
    }
    if (box.whileOpen)
        box.whileOpen();
    return box.answer;
}

// The fragment dialog is filled in and confirmed as a person would; any
// other dialog (the About box) is cancelled at once.
int UiHarness::RunModal(QDialog& dialog)
{
    auto* fragment = qobject_cast<CExtractDlg*>(&dialog);
    if (fragment == nullptr)
    {
        otherDialogs.append(QString::fromLatin1(dialog.metaObject()->className()));
        return QDialog::Rejected;
    }
    fragment->show();
    fragmentFound = {fragment->GetStartEdit()->text(), fragment->GetEndEdit()->text()};
    fragment->GetStartEdit()->setText(fragmentStart);
    fragment->GetEndEdit()->setText(fragmentEnd);
    fragment->accept();
    fragmentStayedOpen = fragment->isVisible();
    fragment->hide();
    return fragment->result();
}

// ---------------------------------------------------------------------------
// Every test's start and end

void UiTest::init()
{
    s_nLastKind = 0;
    s_bInTimer = 0;
    s_nLastSliderPos = -1;
    g_nDisplayWidth = 640;
    g_nDisplayHeight = 480;
    s_bViewOpen = 0;
    CFakeGame::Get().Reset();
    h.Reset();
    QVERIFY(h.dir->isValid());
}

void UiTest::cleanup()
{
    QStringList missing;
    for (const ExpectedBox& box : h.expected)
        missing.append(Describe(box.caption, box.text));
    h.expected.clear();
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("message boxes not shown: ") + missing.join(", ")));
}

// ---------------------------------------------------------------------------
// Videos and the fake game

std::vector<std::uint8_t> TestPicture(int width, int height, int seed)
{
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] =
            static_cast<std::uint8_t>((i * 13 + static_cast<std::size_t>(seed) * 7) % 200 + 1);
    return picture;
}

std::vector<std::uint8_t> TestPalette()
{
    std::vector<std::uint8_t> palette(kPaletteBytes);
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return palette;
}

bool WriteVideo(const QString& path, int frames, int width, int height, std::uint32_t cursor)
{
    CVideo video;
    if (!video.SetGeometry(width, width, height, 0, 0))
        return false;
    const std::vector<std::uint8_t> palette = TestPalette();
    for (int k = 0; k < frames; ++k)
    {
        if (video.AddFrame(cursor, palette.data(), TestPicture(width, height, k).data()) !=
            AF_ADDED)
            return false;
        video.SetFrameTime(k, static_cast<float>(k) / 10.0f);
    }
    return SaveVideoFile(video, path.toStdString()) == 1;
}

std::vector<std::uint8_t> DecodedFrame(const CVideo& video, int index)
{
    std::vector<std::uint8_t> picture(
        CVideo::PaddedPictureBytes(video.GetWidth(), video.GetHeight()));
    if (!video.GetFrame(index, picture.data(), false))
        return {};
    picture.resize(static_cast<std::size_t>(video.GetWidth()) *
                   static_cast<std::size_t>(video.GetHeight()));
    return picture;
}

void StartFakeGame()
{
    CFakeGame& game = CFakeGame::Get();
    game.ShowWindow("WARCRAFT II", 99);
    game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
    game.Write8(kVersionByteAddress, kVersionByte2020);
    game.Write32(0x004D4A94, kScreen); // the screen pointer
    const std::vector<std::uint8_t> palette = TestPalette();
    game.Write(0x004AE844, palette.data(), palette.size());
    game.Write32(0x004D5134, 100u | (50u << 16)); // the mouse pointer
    game.Map(kScreen, TestPicture(640, 480, 0));
    game.Write32(0x004D4A90, 640u | (480u << 16));
}

void RecordTicks(CTrellonDlg& dlg, int ticks)
{
    dlg.OnRecord();
    for (int n = 0; n < ticks; ++n)
        dlg.OnTimer();
    dlg.OnRecord();
}

QString FrameText(const CTrellonDlg& dlg)
{
    return Item<QLabel>(dlg, IDC_FRAME_TEXT)->text();
}

QString TimeText(const CTrellonDlg& dlg)
{
    return Item<QLabel>(dlg, IDC_TIME_TEXT)->text();
}

int FrameCount(const CTrellonDlg& dlg)
{
    return dlg.GetManager().GetVideo().GetFrameCount();
}

// ---------------------------------------------------------------------------
// The runner: every registered class, in the order of their names.

bool RegisterUiTest(std::function<std::unique_ptr<QObject>()> make)
{
    Registry().push_back(std::move(make));
    return true;
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("TrellonHD"));

    std::vector<std::unique_ptr<QObject>> tests;
    for (const auto& make : Registry())
        tests.push_back(make());
    std::sort(tests.begin(), tests.end(),
              [](const auto& a, const auto& b)
              { return qstrcmp(a->metaObject()->className(), b->metaObject()->className()) < 0; });
    int failures = 0;
    for (const auto& test : tests)
        failures += QTest::qExec(test.get(), argc, argv);
    return failures == 0 ? 0 : 1;
}
