#include "ui/qt/UiServices.h"

#include "manager/VideoManager.h"

#include <QDialog>
#include <QFileDialog>
#include <chrono>

namespace
{
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon)
{
    QMessageBox box(icon, caption, text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString ChooseVideoFile(QWidget* owner, bool forSaving)
{
    QFileDialog dialog(owner);
    dialog.setNameFilters(
        {QStringLiteral("Trellon Files (*.dk2)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("dk2"));
    if (forSaving)
    {
        // Qt asks before an existing file is overwritten unless told not to.
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    else
    {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
QString ChooseExportFile(QWidget* owner, const QString& extension)
{
    QFileDialog dialog(owner);
    dialog.setNameFilters({QStringLiteral("%1 (*.%2)").arg(extension.toUpper(), extension)});
    dialog.setDefaultSuffix(extension);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
} // namespace

UiServices UiServices::Standard()
{
    UiServices services;
    services.messageBox = ShowMessageBox;
    services.chooseFile = ChooseVideoFile;
    services.chooseExportFile = ChooseExportFile;
    services.runModal = [](QDialog& dialog) { return dialog.exec(); };
    services.counter = []
    {
        return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
    };
    services.counterFrequency = 1000000000;
    services.journalFolder = QString::fromStdString(CVideoManager::DefaultJournalFolder());
    return services;
}
