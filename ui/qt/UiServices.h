#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <functional>

class QDialog;
class QWidget;

// What the dialogs ask of the person in front of them and of the clock. The
// program answers with the toolkit's message boxes and file dialogs and a
// steady clock; interface tests put their own answers here, so that no test
// waits for a person or for time to pass.
struct UiServices
{
    using MessageBoxFn = std::function<QMessageBox::StandardButton(
        QWidget* owner, const QString& caption, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)>;
    // The path the person chose, or an empty text when they cancelled.
    using ChooseFileFn = std::function<QString(QWidget* owner, bool forSaving)>;
    // The path to export to, with `extension` ("mp4"); empty when cancelled.
    using ChooseExportFileFn = std::function<QString(QWidget* owner, const QString& extension)>;
    // Runs a dialog modally and returns its result (QDialog::Accepted or not).
    using RunModalFn = std::function<int(QDialog& dialog)>;
    using CounterFn = std::function<std::int64_t()>;

    MessageBoxFn messageBox;
    ChooseFileFn chooseFile;
    ChooseExportFileFn chooseExportFile;
    RunModalFn runModal;
    CounterFn counter;                 // the performance counter
    std::int64_t counterFrequency = 1; // its ticks per second
    // Where recordings are journalled against a crash; empty: not at all.
    QString journalFolder;

    // The toolkit's own dialogs and std::chrono::steady_clock in nanoseconds.
    static UiServices Standard();
};
