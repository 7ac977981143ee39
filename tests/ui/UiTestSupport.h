#pragma once

// What the main dialog's interface tests share: a base class answering the
// dialog's message boxes, file chooser, fragment dialog and counter, videos
// in a temporary folder, and the fake game the capture reads.

#include "ui/qt/TrellonDlg.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

inline const QMessageBox::StandardButtons kYesNo = QMessageBox::Yes | QMessageBox::No;

class UiTest : public QObject
{
    Q_OBJECT

protected:
    // Announces the next message box and its answer; an empty text matches
    // any. A box not announced, or announced and not shown, fails the test.
    void Expect(const QString& caption, const QString& text,
                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                QMessageBox::StandardButton answer = QMessageBox::Ok,
                QMessageBox::Icon icon = QMessageBox::NoIcon, std::function<void()> whileOpen = {});
    // Moves the counter on; it runs at 1000 ticks a second.
    void Advance(double seconds);
    // A dialog with the test's services, initialised.
    std::unique_ptr<CTrellonDlg> NewDialog(const QString& commandLine = {});
    // One that has loaded a WriteVideo video; null when that failed.
    std::unique_ptr<CTrellonDlg> Loaded(int frames, int width = 640, int height = 480);
    QString Path(const QString& name) const { return m_dir->filePath(name); }

    QString chosenFile;                 // what the file chooser answers
    QString journalFolder;              // where dialogs journal; empty: Path("journals")
    QString fragmentStart, fragmentEnd; // typed into the fragment dialog before Extract
    int exportFormat = -1;              // chosen in the export dialog; -1 cancels it
    QStringList exportFound;            // its format, first, last and scale when it opened
    QString exportFile;                 // what the export file chooser answers
    QStringList fragmentFound;          // what its fields held when it opened

private slots:
    void init();
    void cleanup();

private:
    struct Box
    {
        QString caption, text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton answer;
        QMessageBox::Icon icon;
        std::function<void()> whileOpen;
    };
    QList<Box> m_expected;
    std::int64_t m_ticks = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// The test classes, run by main in UiTestSupport.cpp.
std::unique_ptr<QObject> MakeCommandsTest();
std::unique_ptr<QObject> MakeRecordingTest();

// Frame `seed`'s picture: values 1..200, so the pointer's 255 stands out.
std::vector<std::uint8_t> TestPicture(int width, int height, int seed);
// A video of TestPicture frames, frame k at 0.1 k seconds, the pointer at
// (100, 50).
bool WriteVideo(const QString& path, int frames, int width = 640, int height = 480);
// A running v2.0.2.0 game showing TestPicture(640, 480, 0).
void StartFakeGame();
// Records `ticks` frames through the timer handler.
void RecordTicks(CTrellonDlg& dlg, int ticks);

template <typename Widget> Widget* Item(const CTrellonDlg& dlg, int id)
{
    return qobject_cast<Widget*>(dlg.GetDlgItem(id));
}
inline QString Text(const CTrellonDlg& dlg, int id)
{
    const QWidget* widget = dlg.GetDlgItem(id);
    return widget != nullptr ? widget->property("text").toString() : QString();
}
inline bool Enabled(const CTrellonDlg& dlg, int id)
{
    const QWidget* widget = dlg.GetDlgItem(id);
    return widget != nullptr && widget->isEnabled();
}
int Frames(const CTrellonDlg& dlg);
// The pixel index the shown picture has at (x, y); -1 without a picture.
int Pixel(const CTrellonDlg& dlg, int x, int y);
