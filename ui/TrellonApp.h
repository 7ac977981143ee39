#pragma once

#include <QIcon>
#include <QString>

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

private:
    bool InitInstance(const QString& commandLine);
};
