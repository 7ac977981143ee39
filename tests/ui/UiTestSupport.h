#pragma once

// What the main dialog's interface tests share: the answers the dialog gets
// instead of a person and a clock, videos written to a temporary folder,
// and the fake game the capture reads.

#include "TrellonDlg.h"
#include "UiServices.h"

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CVideo;
class QDialog;
class QLineEdit;
class QPushButton;
class QComboBox;
class QCheckBox;
class QSlider;
class QLabel;

// One message box the dialog is expected to show, and how it is answered.
// An empty text matches any text.
struct ExpectedBox
{
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton answer;
    QMessageBox::Icon icon;
    std::function<void()> whileOpen; // runs while the box is "open"
};

// One message box the dialog did show.
struct ShownBox
{
    QWidget* owner;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

// The services handed to every dialog under test. Every box must have been
// announced with Expect(); any other fails the running test.
class UiHarness
{
public:
    void Reset();
    UiServices Services();

    void Expect(const QString& caption, const QString& text, QMessageBox::StandardButtons buttons,
                QMessageBox::StandardButton answer, QMessageBox::Icon icon = QMessageBox::NoIcon,
                std::function<void()> whileOpen = {});
    // Moves the performance counter on (the frequency is 1000 ticks a second).
    void Advance(double seconds);

    // A dialog built with these services and initialised.
    std::unique_ptr<CTrellonDlg> NewDialog(const QString& commandLine = {});

    QList<ExpectedBox> expected;
    QList<ShownBox> shown;
    QString chosenFile;    // what the file chooser answers
    QString fragmentStart; // what the fragment dialog's fields are given
    QString fragmentEnd;
    QStringList fragmentFound; // what they held when it opened
    bool fragmentStayedOpen = false;
    QStringList otherDialogs; // classes of the other dialogs run, cancelled
    std::int64_t ticks = 1000000;
    std::unique_ptr<QTemporaryDir> dir;

private:
    QMessageBox::StandardButton Answer(QWidget* owner, const QString& caption, const QString& text,
                                       QMessageBox::StandardButtons buttons,
                                       QMessageBox::Icon icon);
    int RunModal(QDialog& dialog);
};

// Every test class starts from a clean program state: the values the dialog
// keeps for the whole run, a fake game with no window, fresh services.
class UiTest : public QObject
{
    Q_OBJECT

protected:
    UiHarness h;

private slots:
    void init();
    void cleanup();
};

// Registers a test class with the runner in UiTestSupport.cpp.
bool RegisterUiTest(std::function<std::unique_ptr<QObject>()> make);
#define TRELLON_UI_TEST(Class)                                                                     \
    static const bool Class##Registered =                                                          \
        RegisterUiTest([] { return std::unique_ptr<QObject>(new Class); })

// The picture of frame `seed` of the videos below: no colour alone, values 1..200.
std::vector<std::uint8_t> TestPicture(int width, int height, int seed);
// A palette no frame drops (not all zero).
std::vector<std::uint8_t> TestPalette();
// Writes a video of `frames` TestPicture frames, frame k at 0.1 k seconds,
// each with the pointer at `cursor`; returns false when it could not.
bool WriteVideo(const QString& path, int frames, int width = 640, int height = 480,
                std::uint32_t cursor = 100u | (50u << 16));
// Frame `index` of `video`, decoded without the pointer.
std::vector<std::uint8_t> DecodedFrame(const CVideo& video, int index);

// A running v2.0.2.0 game in the fake backend showing a 640 x 480 picture.
void StartFakeGame();

// Records `ticks` frames through the dialog's own timer handler.
void RecordTicks(CTrellonDlg& dlg, int ticks);

template <typename Widget> Widget* Item(const CTrellonDlg& dlg, int id)
{
    return qobject_cast<Widget*>(dlg.GetDlgItem(id));
}
QString FrameText(const CTrellonDlg& dlg);
QString TimeText(const CTrellonDlg& dlg);
int FrameCount(const CTrellonDlg& dlg);
