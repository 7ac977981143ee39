#include "TrellonApp.h"

#include "TrellonDlg.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <new>

namespace
{
const char kUsage[] =
    "Usage: trellonhd [VIDEO.dk2]\n"
    "Records the screen of the running game Warcraft II and plays recordings back.\n"
    "A video named on the command line is loaded at once.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Qt's own options (such as -platform) are accepted as well.\n";
} // namespace

QIcon CTrellonApp::LoadIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/trellonhd-%1.png").arg(size), QSize(size, size));
    return icon;
}

int CTrellonApp::Run(int argc, char** argv)
{
    // Answered before the toolkit starts, so that they work without a display.
    for (int n = 1; n < argc; ++n)
    {
        if (std::strcmp(argv[n], "--help") == 0 || std::strcmp(argv[n], "-h") == 0)
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[n], "--version") == 0 || std::strcmp(argv[n], "-v") == 0)
        {
            std::printf("trellonhd %s\n", TRELLON_VERSION);
            return 0;
        }
    }

    QApplication application(argc, argv); // takes its own options out of argv
    QApplication::setApplicationDisplayName(QStringLiteral("TrellonHD"));
    QApplication::setApplicationVersion(QStringLiteral(TRELLON_VERSION));
    QApplication::setWindowIcon(LoadIcon());

    QStringList rest;
    for (int n = 1; n < argc; ++n)
    {
        const QString argument = QString::fromLocal8Bit(argv[n]);
        if (argument.startsWith(QLatin1String("--")) && argument.size() > 2)
        {
            std::fprintf(stderr, "trellonhd: unknown option %s\n%s", argv[n], kUsage);
            return 2;
        }
        rest.append(argument);
    }

    // The dialogs speak the person's language where a translation exists;
    // everything the program says at run time stays English.
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("trellonhd"), QStringLiteral("_"),
                        QStringLiteral(":/i18n")))
        QApplication::installTranslator(&translator);

    // What follows the options is one command line, as the platform's is: a
    // path handed over in pieces comes back whole.
    try
    {
        InitInstance(rest.join(QLatin1Char(' ')));
    }
    catch (const std::bad_alloc&)
    {
        // An allocation outside the recording's own checks (those stop the
        // recording and keep its frames): a message instead of an abort.
        std::fputs("trellonhd: out of memory\n", stderr);
        return 1;
    }
    return 0;
}

bool CTrellonApp::InitInstance(const QString& commandLine)
{
    CTrellonDlg dialog(commandLine);
    dialog.DoModal();
    return false; // the program ends with its dialog
}
