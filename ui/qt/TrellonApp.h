#pragma once

#include <QIcon>
#include <QLocale>
#include <QString>
#include <QTranslator>

// The application object: answers --help and --version without a display,
// otherwise sets up the toolkit, the interface language and the icon, and
// runs the main dialog until it closes.
class CTrellonApp
{
public:
    CTrellonApp() = default;
    virtual ~CTrellonApp() = default;
    CTrellonApp(const CTrellonApp&) = delete;
    CTrellonApp& operator=(const CTrellonApp&) = delete;

    int Run(int argc, char** argv);

    // The program's icon in all its sizes.
    static QIcon LoadIcon();
    // Installs the dialogs' translation for `locale` and, with it, the
    // toolkit's own (buttons, file dialogs). False when the dialogs have no
    // translation for it; the translators must outlive their use.
    static bool InstallTranslators(const QLocale& locale, QTranslator& dialogs,
                                   QTranslator& toolkit);

private:
    bool InitInstance(const QString& commandLine);
};
