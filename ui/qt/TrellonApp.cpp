#include "ui/qt/TrellonApp.h"

#include "ui/core/TrellonCore.h"
#include "ui/qt/RemoteCommands.h"
#include "ui/qt/TrellonDlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace
{
const std::string kUsage =
    std::string(kTrellonHdUsage) + "\nQt's own options (such as -platform) are accepted as well.\n";

// False when the toolkit would find no screen to open on: no X or Wayland
// display, and no other platform chosen (-platform or QT_QPA_PLATFORM, which
// the offscreen tests use). The toolkit itself would abort with a long text.
bool HasDisplay(int argc, char** argv)
{
    const auto set = [](const char* name)
    {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM"))
        return true;
    for (int n = 1; n < argc; ++n)
        if (std::strcmp(argv[n], "-platform") == 0 || std::strcmp(argv[n], "--platform") == 0)
            return true;
    return false;
}
} // namespace

QIcon CTrellonApp::LoadIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/trellonhd-%1.png").arg(size), QSize(size, size));
    return icon;
}

namespace
{
// What Run answers before the toolkit starts, so that it works without a
// display: the exit status, or -1 to go on.
constexpr int kGoOn = -1;

// --help and --version.
int AnswerInformation(int argc, char** argv)
{
    for (int n = 1; n < argc; ++n)
    {
        if (std::strcmp(argv[n], "--help") == 0 || std::strcmp(argv[n], "-h") == 0)
        {
            std::fputs(kUsage.c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[n], "--version") == 0 || std::strcmp(argv[n], "-v") == 0)
        {
            std::printf("trellonhd %s\n", TRELLON_VERSION);
            return 0;
        }
    }
    return kGoOn;
}

// A command to the TrellonHD that runs (--toggle-recording,
// --pause-recording, --save PATH), sent and answered.
int ForwardRemoteCommand(int argc, char** argv)
{
    for (int n = 1; n < argc; ++n)
    {
        QString command;
        if (std::strcmp(argv[n], "--toggle-recording") == 0)
            command = QStringLiteral("toggle");
        else if (std::strcmp(argv[n], "--pause-recording") == 0)
            command = QStringLiteral("pause");
        else if (std::strcmp(argv[n], "--save") == 0)
        {
            if (n + 1 >= argc)
            {
                std::fprintf(stderr, "trellonhd: --save needs a PATH\n%s", kUsage.c_str());
                return 2;
            }
            // The running TrellonHD may have another working directory.
            command = QStringLiteral("save ") +
                      QFileInfo(QString::fromLocal8Bit(argv[n + 1])).absoluteFilePath();
        }
        else
            continue;
        QCoreApplication core(argc, argv);
        QString answer;
        const int status = SendRemoteCommand(RemoteCommandServerName(), command, answer);
        if (status != 0)
            std::fprintf(stderr, "trellonhd: %s\n", answer.toLocal8Bit().constData());
        return status;
    }
    return kGoOn;
}

// The arguments the toolkit left, which make the command line; false, with
// the usage said, at an option nobody knows.
bool TakeCommandLine(int argc, char** argv, QStringList& rest)
{
    for (int n = 1; n < argc; ++n)
    {
        const QString argument = QString::fromLocal8Bit(argv[n]);
        if (argument.startsWith(QLatin1String("--")) && argument.size() > 2)
        {
            std::fprintf(stderr, "trellonhd: unknown option %s\n%s", argv[n], kUsage.c_str());
            return false;
        }
        rest.append(argument);
    }
    return true;
}
} // namespace

int CTrellonApp::Run(int argc, char** argv)
{
    if (const int status = AnswerInformation(argc, argv); status != kGoOn)
        return status;
    if (const int status = ForwardRemoteCommand(argc, argv); status != kGoOn)
        return status;
    if (!HasDisplay(argc, argv))
    {
        std::fputs("trellonhd: no display to open the window on (DISPLAY is not set); run it "
                   "in a desktop session, or start scripts/run, which starts a virtual "
                   "display\n",
                   stderr);
        return 1;
    }

    QApplication application(argc, argv); // takes its own options out of argv
    QApplication::setApplicationVersion(QStringLiteral(TRELLON_VERSION));
    QApplication::setWindowIcon(LoadIcon());
    QStringList rest;
    if (!TakeCommandLine(argc, argv, rest))
        return 2;

    // The dialogs speak the person's language where a translation exists;
    // everything the program says at run time stays English.
    // The toolkit's own texts (Yes, No, Cancel, the file dialogs) follow
    // the dialogs' language, from the toolkit's translations.
    QTranslator translator, toolkit;
    InstallTranslators(QLocale(), translator, toolkit);
    // The toolkit appends the display name to every window title that does
    // not end with it (on X11 after an em dash): named as the main window
    // names itself, in its language, it ends that window's titles, which
    // then reach the window manager as they were composed, while the
    // toolkit's own dialogs still say whose they are.
    QApplication::setApplicationDisplayName(
        QCoreApplication::translate("CTrellonDlg", "TrellonHD"));

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

bool CTrellonApp::InstallTranslators(const QLocale& locale, QTranslator& dialogs,
                                     QTranslator& toolkit)
{
    if (!dialogs.load(locale, QStringLiteral("trellonhd"), QStringLiteral("_"),
                      QStringLiteral(":/i18n")))
        return false;
    QApplication::installTranslator(&dialogs);
    if (toolkit.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkit);
    return true;
}

bool CTrellonApp::InitInstance(const QString& commandLine)
{
    CTrellonDlg dialog(commandLine);
    // Commands from other processes; a second TrellonHD leaves them to the first.
    dialog.ListenForCommands(RemoteCommandServerName());
    dialog.ListenForHotkeys();
    dialog.DoModal();
    return false; // the program ends with its dialog
}
