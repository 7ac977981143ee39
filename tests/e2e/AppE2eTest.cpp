// TrellonHD in a real window of its own virtual X server, driven as a person
// would: the recorder is clicked with xdotool while the demo game runs, the
// program itself is started with a video on its command line and
// photographed, and its title is read as a window manager reads it.

#include "manager/VideoManager.h"
#include "tests/sound/SoundServer.h"
#include "tools/gamesim/SimLaunch.h"
#include "tests/support/TestTempFolder.h"
#include "tools/gamesim/SimScene.h"
#include "ui/qt/RemoteCommands.h"
#include "ui/qt/TrellonDlg.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace
{
// Runs a program to its end and gives back what it printed.
QString Output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Processes events until `done` holds or `seconds` have passed.
template <typename Condition> bool WaitFor(Condition done, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done())
    {
        if (clock.elapsed() > seconds * 1000)
            return false;
        QTest::qWait(20);
    }
    return true;
}

void Click(QWidget* widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(at.x()),
                       QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
}

QString Text(const CTrellonDlg& dlg, int id)
{
    return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->text();
}

// A window property of `type` as its bytes; empty when there is none.
std::string Property(xcb_connection_t* c, xcb_window_t window, const char* name, xcb_atom_t type)
{
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    std::string value;
    if (atom != nullptr)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, atom->atom, type, 0, 1 << 16), nullptr);
        if (reply != nullptr && reply->type == type)
            value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
    }
    std::free(atom);
    return value;
}

// The title of the window of process `pid` as the window manager has it: the
// _NET_WM_NAME of that process's window among those it manages
// (_NET_CLIENT_LIST); empty while it manages none of that process.
std::string ManagedTitle(pid_t pid)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    std::string title;
    if (xcb_connection_has_error(c) == 0)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_intern_atom_reply_t* utf8 =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 11, "UTF8_STRING"), nullptr);
        const std::string clients = Property(c, root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
        for (std::size_t at = 0; utf8 != nullptr && at + 4 <= clients.size(); at += 4)
        {
            xcb_window_t window = 0;
            std::memcpy(&window, clients.data() + at, 4);
            const std::string owner = Property(c, window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
            std::uint32_t ownerPid = 0;
            if (owner.size() == 4)
                std::memcpy(&ownerPid, owner.data(), 4);
            if (ownerPid == static_cast<std::uint32_t>(pid))
            {
                title = Property(c, window, "_NET_WM_NAME", utf8->atom);
                break;
            }
        }
        std::free(utf8);
    }
    xcb_disconnect(c);
    return title;
}

std::size_t Occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

UiServices NoQuestions()
{
    UiServices services = UiServices::Standard();
    services.messageBox = [](QWidget*, const QString& caption, const QString& text,
                             QMessageBox::StandardButtons, QMessageBox::Icon)
    {
        ADD_FAILURE() << "unexpected message box " << caption.toStdString() << ": "
                      << text.toStdString();
        return QMessageBox::Ok;
    };
    return services;
}
} // namespace

TEST(AppE2e, RecordsTheDemoGameBetweenTwoClicks)
{
    pid_t game = Spawn({TRELLON_GAMESIM, "--seed", "3", "--fps", "30", "--frames", "3000"});
    ASSERT_GT(game, 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("timeout"),
                                {QStringLiteral("20"), QStringLiteral("xdotool"),
                                 QStringLiteral("search"), QStringLiteral("--sync"),
                                 QStringLiteral("--name"), QStringLiteral("^WARCRAFT II$")}),
              0);

    CTrellonDlg dlg(QString(), NoQuestions());
    dlg.show();
    dlg.OnInitDialog();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* record = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_RECORD));

    Click(record);
    ASSERT_TRUE(WaitFor([&] { return dlg.IsRecording(); }, 10));
    EXPECT_EQ(record->text(), QStringLiteral("Stop Recording"));
    const CVideo& recording = dlg.GetManager().GetVideo();
    ASSERT_TRUE(WaitFor([&] { return recording.GetFrameCount() >= 20; }, 30));
    EXPECT_EQ(Text(dlg, IDC_VERSION), QStringLiteral("war2 v2.0.2.0"));

    Click(record);
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRecording(); }, 10));
    const CVideo& video = dlg.GetManager().GetVideo();
    const int frames = video.GetFrameCount();
    EXPECT_GE(frames, 20);
    EXPECT_EQ(record->text(), QStringLiteral("Start Recording"));
    EXPECT_FALSE(record->isEnabled()); // a finished recording can't be continued
    const std::int64_t bytes = 24 + 16 * static_cast<std::int64_t>(frames) +
                               16 * static_cast<std::int64_t>(video.GetNodeCount()) +
                               1024 * static_cast<std::int64_t>(video.GetPaletteCount());
    EXPECT_EQ(Text(dlg, IDC_BYTES), QString::number(bytes));
    EXPECT_EQ(dlg.GetSliderMax(), frames - 1);

    // While the game shows its map the recorder leaves its picture alone;
    // once the game is gone the recorded frames show.
    Stop(game);
    dlg.ShowFrame();
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_FRAME_TEXT))->text(),
              QStringLiteral("Frame 1/%1").arg(frames));
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_TIME_TEXT))->text(),
              QStringLiteral("Time 0.00"));
    dlg.GetManager().NewVideo(); // nothing to ask about on the way out
}

TEST(AppE2e, ShowsAVideoNamedOnTheCommandLine)
{
    // A short video of the demo scene, and the picture its first frame makes.
    SimOptions options;
    options.seed = 9;
    const CSimScene scene(options);
    CVideo video;
    ASSERT_EQ(video.SetGeometry(640, 640, 480, 0, 0), 1);
    std::vector<std::uint8_t> picture(640 * 480);
    for (int n = 0; n < 5; ++n)
    {
        scene.Picture(n, picture.data());
        ASSERT_EQ(video.AddFrame(0, scene.Palette(n), picture.data()), AF_ADDED);
    }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trellon app e2e " + std::to_string(getpid()) + ".dk2"))
                                 .string();
    ASSERT_EQ(SaveVideoFile(video, path), 1);
    scene.Picture(0, picture.data());
    const std::uint8_t* palette = scene.Palette(0);

    // Quoted as a desktop would hand it over; the program removes the quotes.
    pid_t app = Spawn({TRELLON_APP, "\"" + path + "\""});
    ASSERT_GT(app, 0);
    QString window;
    ASSERT_TRUE(WaitFor(
        [&]
        {
            window = Output(QStringLiteral("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--name"), QStringLiteral("^(.* \u2014 )?TrellonHD$")})
                         .section(QLatin1Char('\n'), 0, 0);
            return !window.isEmpty();
        },
        20));

    // The window's top-left 640 x 480 pixels are the video's first frame.
    const QString shot = QStringLiteral(TRELLON_SCREENSHOT);
    auto matches = [&]
    {
        if (QProcess::execute(QStringLiteral("timeout"),
                              {QStringLiteral("10"), QStringLiteral("import"),
                               QStringLiteral("-window"), window, shot}) != 0)
            return false;
        const QImage image(shot);
        if (image.width() < 640 || image.height() < 480)
            return false;
        for (int y = 0; y < 480; y += 7)
            for (int x = 0; x < 640; x += 5)
            {
                if (x < 8 && y < 8)
                    continue; // the cursor marker, at the recorded pointer (0, 0)
                const std::uint8_t* entry =
                    palette + 4 * picture[static_cast<std::size_t>(y * 640 + x)];
                if (image.pixel(x, y) != qRgb(entry[0], entry[1], entry[2]))
                    return false;
            }
        return true;
    };
    EXPECT_TRUE(WaitFor(matches, 20)) << "see " << shot.toStdString();
    Stop(app);
    QLocalServer::removeServer(RemoteCommandServerName()); // the killed one's socket
    std::filesystem::remove(path);
}

TEST(AppE2e, TheWindowManagerGetsTheStatusFirstAndTheNameOnce)
{
    if (access("/usr/bin/openbox", X_OK) != 0)
        GTEST_SKIP() << "openbox is not installed (scripts/setup installs it)";
    // The window manager keeps its settings under HOME.
    const std::filesystem::path home = TestTempFolder() / "home";
    std::filesystem::create_directories(home);
    const std::string oldHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    pid_t wm = Spawn({"/usr/bin/openbox"});
    ASSERT_GT(wm, 0);
    pid_t game = Spawn({TRELLON_GAMESIM, "--fps", "30"});
    pid_t app = Spawn({TRELLON_APP});
    ASSERT_GT(app, 0);
    const auto command = [](const QStringList& arguments)
    { return QProcess::execute(QStringLiteral(TRELLON_APP), arguments); };
    std::string title;
    const auto titleIs = [&](const std::string& expected)
    {
        return WaitFor(
            [&]
            {
                title = ManagedTitle(app);
                return title == expected;
            },
            20);
    };

    EXPECT_TRUE(titleIs("TrellonHD")) << title; // a new empty video
    EXPECT_EQ(command({QStringLiteral("--toggle-recording")}), 0);
    const std::string dash = " \u2014 ";
    EXPECT_TRUE(WaitFor(
        [&]
        {
            title = ManagedTitle(app);
            return title.find(" 0 frames") == std::string::npos &&
                   title.find(" frames") != std::string::npos;
        },
        20))
        << title;
    EXPECT_EQ(title.rfind("\u25CF REC ", 0), 0u) << title;
    EXPECT_TRUE(title.ends_with(dash + "TrellonHD")) << title;
    EXPECT_EQ(Occurrences(title, "TrellonHD"), 1u) << title;
    EXPECT_EQ(command({QStringLiteral("--pause-recording")}), 0);
    EXPECT_TRUE(WaitFor(
        [&] { return (title = ManagedTitle(app)).rfind("\u275A\u275A PAUSED ", 0) == 0; }, 20))
        << title;
    EXPECT_TRUE(title.ends_with(dash + "TrellonHD")) << title;

    const std::filesystem::path path = TestTempFolder() / "titled.dk2";
    EXPECT_EQ(command({QStringLiteral("--save"), QString::fromStdString(path.string())}), 0);
    EXPECT_TRUE(titleIs("titled.dk2" + dash + "TrellonHD")) << title;

    Stop(app);
    Stop(game);
    Stop(wm);
    QLocalServer::removeServer(RemoteCommandServerName()); // the killed one's socket
    setenv("HOME", oldHome.c_str(), 1);
}

TEST(AppE2e, CommandsFromAnotherProcessDriveTheRecording)
{
    // trellonhd --toggle-recording and friends, run as a key of the desktop
    // runs them, reach the TrellonHD that runs; with none running they say so.
    // The other process waits for its answer while this one's event loop
    // (the running TrellonHD's) serves it.
    const auto command = [](const QStringList& arguments, QString* said = nullptr)
    {
        QProcess other;
        other.start(QStringLiteral(TRELLON_APP), arguments);
        WaitFor([&] { return other.state() == QProcess::NotRunning; }, 60);
        if (said != nullptr)
            *said = QString::fromLocal8Bit(other.readAllStandardError());
        return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1;
    };
    QString said;
    EXPECT_EQ(command({QStringLiteral("--toggle-recording")}, &said), 1);
    EXPECT_TRUE(said.contains(QLatin1String("no TrellonHD is running"))) << said.toStdString();

    pid_t game = Spawn({TRELLON_GAMESIM, "--fps", "30"});
    ASSERT_GT(game, 0);
    CTrellonDlg dlg(QString(), NoQuestions());
    if (!dlg.ListenForCommands(RemoteCommandServerName()))
        GTEST_SKIP() << "a TrellonHD of this user already takes commands";
    dlg.show();
    dlg.OnInitDialog();
    EXPECT_EQ(command({QStringLiteral("--toggle-recording")}), 0);
    const CVideo& video = dlg.GetManager().GetVideo();
    ASSERT_TRUE(WaitFor([&] { return video.GetFrameCount() >= 10; }, 30));
    EXPECT_EQ(command({QStringLiteral("--pause-recording")}), 0);
    EXPECT_TRUE(dlg.IsPaused());
    const int paused = video.GetFrameCount();
    QTest::qWait(500);
    EXPECT_EQ(video.GetFrameCount(), paused);
    const std::string path = (TestTempFolder() / "remote.dk2").string();
    EXPECT_EQ(command({QStringLiteral("--save"), QString::fromStdString(path)}), 0);
    EXPECT_FALSE(dlg.IsRecording());
    CVideo saved;
    std::string error;
    ASSERT_EQ(LoadVideoFile(saved, path, error), 1) << error;
    EXPECT_EQ(saved.GetFrameCount(), paused);
    Stop(game);
}

TEST(AppE2e, GlobalHotkeysDriveTheRecordingWhileTheGameHasTheFocus)
{
    pid_t game = Spawn({TRELLON_GAMESIM, "--fps", "30"});
    ASSERT_GT(game, 0);
    ASSERT_TRUE(WaitFor(
        []
        {
            return !Output(QStringLiteral("xdotool"),
                           {QStringLiteral("search"), QStringLiteral("--name"),
                            QStringLiteral("^WARCRAFT II$")})
                        .isEmpty();
        },
        20));
    CTrellonDlg dlg(QString(), NoQuestions());
    dlg.show();
    dlg.OnInitDialog();
    dlg.ListenForHotkeys();
    // The game's window has the focus; the keys go to TrellonHD all the same.
    const QString gameWindow =
        Output(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                           QStringLiteral("^WARCRAFT II$")})
            .section(QLatin1Char('\n'), 0, 0);
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowfocus"), QStringLiteral("--sync"), gameWindow});
    const auto press = [](const char* keys)
    {
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QString::fromLatin1(keys)});
    };
    press("ctrl+alt+r");
    ASSERT_TRUE(WaitFor([&] { return dlg.IsRecording(); }, 10));
    const CVideo& video = dlg.GetManager().GetVideo();
    ASSERT_TRUE(WaitFor([&] { return video.GetFrameCount() >= 5; }, 20));
    press("ctrl+alt+p");
    ASSERT_TRUE(WaitFor([&] { return dlg.IsPaused(); }, 10));
    const int paused = video.GetFrameCount();
    QTest::qWait(600);
    EXPECT_EQ(video.GetFrameCount(), paused);
    press("ctrl+alt+p"); // resumed: no gap of the pause's length
    ASSERT_TRUE(WaitFor([&] { return video.GetFrameCount() >= paused + 3; }, 20));
    EXPECT_LT(video.GetFrameTime(paused) - video.GetFrameTime(paused - 1), 0.3f);
    press("ctrl+alt+r");
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRecording(); }, 10));
    Stop(game);
    dlg.GetManager().NewVideo(); // nothing to ask about on the way out
}

TEST(AppE2e, HotkeysAnotherProgramHoldsAreToldOnce)
{
    // A TrellonHD that runs holds both keys; a second one can't have them.
    pid_t first = Spawn({TRELLON_APP});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitFor(
        []
        {
            return !Output(QStringLiteral("xdotool"),
                           {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                            QStringLiteral("--name"), QStringLiteral("^(.* \u2014 )?TrellonHD$")})
                        .isEmpty();
        },
        20));
    UiServices services = UiServices::Standard();
    QStringList told;
    services.messageBox = [&told](QWidget*, const QString&, const QString& text,
                                  QMessageBox::StandardButtons, QMessageBox::Icon)
    {
        told.append(text);
        return QMessageBox::Ok;
    };
    CTrellonDlg dlg(QString(), services);
    dlg.ListenForHotkeys();
    Stop(first);
    QLocalServer::removeServer(RemoteCommandServerName()); // the killed one's socket
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith(QLatin1String("Ctrl+Alt+R, Ctrl+Alt+P can't be used")))
        << told[0].toStdString();
}

TEST(AppE2e, WithoutADisplayItSaysSoInOneLine)
{
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(TRELLON_APP), {});
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 1);
    const QString said = QString::fromLocal8Bit(app.readAllStandardError());
    EXPECT_EQ(said.count(QLatin1Char('\n')), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String("no display")) &&
                said.contains(QLatin1String("scripts/run")))
        << said.toStdString();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    pid_t server = StartVirtualDisplay("1600x1000x24");
    if (server <= 0)
    {
        std::fprintf(stderr, "AppE2e: Xvfb could not start\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The recorder records the game's sound too: a sound server of the
    // test's own, so that a recording is not told it has none.
    CSoundServer sound;
    std::string why;
    if (!sound.Start(CSoundServer::Kind::PulseAudio, why))
        std::fprintf(stderr, "AppE2e: no sound server (%s); recordings will say so\n",
                     why.c_str());
    // Journals go to the test's own folder, never the user's, and no journal
    // of the user's is offered for recovery.
    setenv("XDG_STATE_HOME", (TestTempFolder() / "state").c_str(), 1);
    // Commands between TrellonHDs of this test process only.
    setenv("TRELLON_COMMAND_SOCKET", ("trellonhd-test-" + std::to_string(getpid())).c_str(), 1);
    unsetenv("LOCALAPPDATA");
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    StopVirtualDisplay(server);
    return result;
}
