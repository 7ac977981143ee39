#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

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

    // What follows the options, joined as one command line (a path the
    // desktop passes in pieces comes back whole).
    static QString JoinCommandLine(const QStringList& arguments);
    // The program's icon in all its sizes.
    static QIcon LoadIcon();

private:
    bool InitInstance(const QString& commandLine);
};
