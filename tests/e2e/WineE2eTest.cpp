// The Windows demo game (gamesim.exe) under 64-bit Wine, read by each of
// the recorders a user can point at it:
// - the Linux trellon, which finds the window through Wine's X11 driver and
//   its _NET_WM_PID, the game's variables at their fixed addresses inside
//   the executable, and the wrapper in /proc/PID/maps with its pvBmpBits
//   through its export table;
// - trellon.exe, the Windows build, itself under Wine: FindWindowA,
//   ReadProcessMemory and the Toolhelp module list, which holds a wrapper
//   only when it was loaded (WINEDLLOVERRIDES=ddraw=n), never a mapped file;
// - the Linux application trellonhd, driven through its command socket as a
//   key of the desktop would drive it.
// Every recording must hold pictures the demo showed, in order. All tests
// run in one process, so that one virtual X server and one wineserver serve
// them all; the wineserver is ended with the run.

#include "capture/GameLayout.h"
#include "process/Process.h"
#include "sound/SoundCodec.h"
#include "tests/sound/SoundServer.h"
#include "tests/support/LateWrapper.h"
#include "tests/support/ShownRows.h"
#include "tests/support/TestTempFolder.h"
#include "tools/gamesim/GameMemory.h"
#include "tools/gamesim/SimLaunch.h"
#include "tools/gamesim/SimScene.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace
{
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kSeed = 7;

// The Windows programs under test: the build's, or those of the folder
// TRELLON_WINDOWS_FOLDER names when it is set (the portable zip unpacked, as
// a user has it). The Wine prefix may be named at run time the same way, by
// TRELLON_WINE_PREFIX, for a run in a prefix of its own.
std::string FromEnvironment(const char* name, const std::string& otherwise)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : otherwise;
}

std::string WindowsProgram(const char* name, const char* built)
{
    const char* folder = std::getenv("TRELLON_WINDOWS_FOLDER");
    if (folder == nullptr || *folder == '\0')
        return built;
    return (std::filesystem::path(folder) / name).string();
}

const std::string kGamesimExe = WindowsProgram("gamesim.exe", TRELLON_GAMESIM_EXE);
const std::string kCliExe = WindowsProgram("trellon.exe", TRELLON_CLI_EXE);
const std::string kWinePrefix = FromEnvironment("TRELLON_WINE_PREFIX", TRELLON_WINE_PREFIX);

// Runs a program to its end with its output thrown away, for programs that
// leave a daemon behind that would hold a pipe open; the exit code, or -1.
int RunQuietly(const std::vector<std::string>& args)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const pid_t pid = Spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    return ExitCodeOf(pid);
}

// The Xvfb and the Wine prefix of this run. The prefix is made (or brought
// up to date) once here, so that no test waits for it; Wine's prompts to
// install Mono and Gecko are switched off, as nothing here needs them. The
// prefix may be the one scripts/windows keeps, whose driver list
// ("x11,null") draws on the X server named by DISPLAY and on none without.
class WineEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        for (const std::string& program : {kGamesimExe, kCliExe})
            ASSERT_TRUE(std::filesystem::is_regular_file(program))
                << program << " is missing: build the target windows_programs, or point "
                << "TRELLON_WINDOWS_BIN at a Windows build's bin folder (TRELLON_WINDOWS_FOLDER "
                << "at a folder for users)";
        std::ifstream registry(std::filesystem::path(kWinePrefix) / "user.reg");
        for (std::string line; std::getline(registry, line);)
            ASSERT_NE(line, "\"Graphics\"=\"null\"")
                << kWinePrefix << " shows windows nowhere, so no X11 recorder can find "
                << "them; scripts/windows lets it draw on X (Graphics x11,null)";
        m_display = StartVirtualDisplay();
        ASSERT_GT(m_display, 0) << "Xvfb could not start (install xvfb: scripts/setup)";
        setenv("WINEPREFIX", kWinePrefix.c_str(), 1);
        // The recorders' journals, and trellonhd's command socket, go to the
        // test's own folder.
        setenv("XDG_STATE_HOME", (TestTempFolder() / "state").c_str(), 1);
        setenv("TRELLON_COMMAND_SOCKET", (TestTempFolder() / "trellonhd-commands").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        std::string output;
        ASSERT_EQ(RunCapturing({TRELLON_WINE64, "wineboot", "--init"}, output), 0) << output;
        ASSERT_EQ(RunCapturing({TRELLON_WINESERVER, "--wait"}, output), 0) << output;
        unsetenv("WINEDLLOVERRIDES");
        // One wineserver for the whole run, which the run ends; without it
        // every program Wine starts would wait for a server of its own.
        ASSERT_EQ(RunQuietly({TRELLON_WINESERVER, "--persistent"}), 0);
    }
    void TearDown() override
    {
        std::string output;
        RunCapturing({TRELLON_WINESERVER, "--kill"}, output);
        RunCapturing({TRELLON_WINESERVER, "--wait"}, output);
        StopVirtualDisplay(m_display);
    }

private:
    pid_t m_display = 0;
};

struct WineGame
{
    bool build2021;
    bool wrapper;
    int kind;
    const char* kindText;
    const char* wrapperName = "ddraw.dll";
    // Wine loads its own ddraw.dll unless told otherwise; told, it loads
    // the demo's file, which then is in the module list as a loaded library
    // rather than a mapped file.
    bool nativeWrapper = false;
};

void PrintTo(const WineGame& game, std::ostream* out)
{
    *out << "v2.0.2." << (game.build2021 ? 1 : 0);
    if (game.wrapper)
        *out << " with " << game.wrapperName << (game.nativeWrapper ? " loaded" : " mapped");
}

std::string TestName(const ::testing::TestParamInfo<WineGame>& test)
{
    const WineGame& g = test.param;
    return std::string(g.build2021 ? "V2021" : "V2020") +
           (g.wrapper ? (g.nativeWrapper ? "LoadedWrapper" : "MappedWrapper") : "");
}

const WineGame kV2020{false, false, GK_V2020, "war2 v2.0.2.0"};
const WineGame kV2021{true, false, GK_V2021, "war2 v2.0.2.1"};
const WineGame kV2020Mapped{false, true, GK_V2020_DDRAW, "war2 2.0.2.0 ddraw"};
const WineGame kV2021Mapped{true, true, GK_V2021_DDRAW, "war2 2.0.2.1 ddraw"};
const WineGame kV2020Loaded{false, true, GK_V2020_DDRAW, "war2 2.0.2.0 ddraw", "DDRAW.DLL", true};
const WineGame kV2021Loaded{true, true, GK_V2021_DDRAW, "war2 2.0.2.1 ddraw", "ddraw.dll", true};

// What `trellon probe` says of the demo game `game`, from either system.
void ExpectProbeOfTheDemo(const std::string& output, const WineGame& game)
{
    EXPECT_NE(output.find(std::string("Kind:       ") + game.kindText + "\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Screen:     640 x 480\n"), std::string::npos) << output;
    EXPECT_NE(output.find(std::string("Signature:  ") +
                          (game.build2021 ? "0x64646464" : "0x80808081") + " (in game)\n"),
              std::string::npos)
        << output;
    if (game.wrapper)
    {
        // pvBmpBits lies at 0x40 into the data area (rva 0x2000) of the
        // image based at 0x10000000, and points at the wrapper's buffer.
        EXPECT_NE(output.find("Wrapper:    pvBmpBits at 0x10002040\n"), std::string::npos)
            << output;
        EXPECT_NE(output.find("Picture:    0x28000000\n"), std::string::npos) << output;
    }
    else
    {
        EXPECT_NE(output.find("Wrapper:    none\n"), std::string::npos) << output;
        EXPECT_NE(output.find("Picture:    0x20000000\n"), std::string::npos) << output;
    }
}

// How many frames one read may span.
constexpr std::size_t kFramesOneReadSpans = 3;

// The pictures the demo can have shown in its first 20 seconds at 30 a
// second: each test's recording starts a few seconds after the demo.
std::vector<std::vector<std::uint8_t>> ShownPictures(const SimOptions& options)
{
    const CSimScene scene(options);
    std::vector<std::vector<std::uint8_t>> shown(600, std::vector<std::uint8_t>(kWidth * kHeight));
    for (std::size_t n = 0; n < shown.size(); ++n)
        scene.Picture(static_cast<int>(n), shown[n].data());
    return shown;
}

// What a picture that is none the demo showed is most like, for the
// message, and whether it is the game's own buffer where a wrapper's was
// wanted.
std::string Likeness(const std::uint8_t* picture, const SimOptions& options,
                     const std::vector<std::vector<std::uint8_t>>& shown, std::size_t from)
{
    std::string text = NearestShown(picture, shown, from, kWidth, kHeight);
    if (options.wrapper)
    {
        const CSimScene scene(options);
        std::vector<std::uint8_t> own(kWidth * kHeight);
        for (std::size_t n = from; n < shown.size(); ++n)
        {
            scene.OwnPicture(static_cast<int>(n), own.data());
            if (RowsUnlike(picture, own.data(), kWidth, kHeight) == 0)
                return text + "; it is the game's own buffer of frame " + std::to_string(n);
        }
    }
    return text;
}

// The recording at `path` is sound (the Linux trellon verifies it), holds
// from `minFrames` to `maxFrames` frames, and every frame is a picture the
// demo showed, in the order it showed them.
void ExpectRecordingOfTheDemo(const std::string& path, const SimOptions& options, int minFrames,
                              int maxFrames)
{
    std::string output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "verify", path}, output), 0) << output;
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, path, error), 1) << error;
    ASSERT_EQ(video.GetWidth(), kWidth);
    ASSERT_EQ(video.GetHeight(), kHeight);
    ASSERT_GE(video.GetFrameCount(), minFrames);
    ASSERT_LE(video.GetFrameCount(), maxFrames);

    const std::vector<std::vector<std::uint8_t>> shown = ShownPictures(options);
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    std::size_t from = 0;
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        ASSERT_EQ(video.GetFrame(k, picture.data(), false), 1);
        bool found = false;
        // Frames come in order: the search goes on from the last match.
        for (std::size_t n = from; n + 1 < shown.size() && !found; ++n)
            if (RowsFromFrames(picture.data(), shown, n, kFramesOneReadSpans, kWidth, kHeight))
            {
                found = true;
                from = n;
            }
        ASSERT_TRUE(found) << "recorded frame " << k << " is no picture the demo showed; "
                           << Likeness(picture.data(), options, shown, from);
    }
}

class WineE2e : public ::testing::TestWithParam<WineGame>
{
protected:
    void TearDown() override { Stop(m_game); }

    SimOptions Options() const
    {
        SimOptions options;
        options.build2021 = GetParam().build2021;
        options.wrapper = GetParam().wrapper;
        options.seed = kSeed;
        return options;
    }

    // A file of this test in the run's own folder, which goes with the run.
    std::string TestFile(const char* extension) const
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "-" + test->name();
        for (char& c : name)
            if (c == '/')
                c = '-';
        return (TestTempFolder() / (name + extension)).string();
    }

    // Starts the demo and waits until its window can be found and its
    // process read.
    void StartGame()
    {
        std::vector<std::string> args{TRELLON_WINE64, kGamesimExe,
                                      "--build",      GetParam().build2021 ? "2021" : "2020",
                                      "--seed",       std::to_string(kSeed),
                                      "--fps",        "30",
                                      "--frames",     "3000"};
        if (GetParam().wrapper)
            args.insert(args.end(), {"--ddraw-name", GetParam().wrapperName});
        if (GetParam().nativeWrapper)
            setenv("WINEDLLOVERRIDES", "ddraw=n", 1);
        m_game = Spawn(args);
        unsetenv("WINEDLLOVERRIDES");
        ASSERT_GT(m_game, 0);
        CProcess process;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool attached = false;
        while (!attached && std::chrono::steady_clock::now() < end)
        {
            attached = process.Attach();
            if (!attached)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(attached) << "gamesim.exe's window did not appear";
    }

    pid_t m_game = 0;
};

TEST_P(WineE2e, ProbeFindsTheGameItsKindAndThePictureShown)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    std::string output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "probe"}, output), 0) << output;
    // The window's _NET_WM_PID, set by Wine, is the process that was started.
    EXPECT_NE(output.find("Process:    " + std::to_string(m_game) + "\n"), std::string::npos)
        << output;
    ExpectProbeOfTheDemo(output, GetParam());
}

TEST_P(WineE2e, ReadsTheFrameShownWithItsPaletteAndCursor)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    CProcess process;
    ASSERT_TRUE(process.Attach());
    CGameLayout layout;
    layout.Detect(process);
    ASSERT_EQ(layout.GetKind(), GetParam().kind);

    // Frame counter before and after: a read that overlapped a frame change
    // is tried again.
    const CSimScene scene(Options());
    const CRtsScene rts(kWidth, kHeight, static_cast<std::uint32_t>(kSeed));
    std::vector<std::uint8_t> read(kWidth * kHeight), expected(kWidth * kHeight);
    std::uint8_t palette[1024];
    bool compared = false;
    for (int attempt = 0; attempt < 100 && !compared; ++attempt)
    {
        const std::uint32_t before = process.ReadDword(CGameMemory::kFrameCounterAddress);
        const std::uint32_t picture = process.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
        ASSERT_TRUE(process.ReadBlock(picture, read.data(), read.size()));
        ASSERT_TRUE(process.ReadBlock(layout.GetAddress(GA_PALETTE), palette, sizeof palette));
        const std::uint32_t cursor = process.ReadDword(layout.GetAddress(GA_CURSOR));
        const std::uint32_t after = process.ReadDword(CGameMemory::kFrameCounterAddress);
        if (before != after || before == CGameMemory::kFrameBusy)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const int frame = static_cast<int>(before);
        scene.Picture(frame, expected.data());
        EXPECT_TRUE(read == expected) << "the picture read is not frame " << frame;
        EXPECT_EQ(std::memcmp(palette, scene.Palette(frame), sizeof palette), 0);
        EXPECT_EQ(cursor, rts.Cursor(frame)) << "frame " << frame;
        compared = true;
    }
    EXPECT_TRUE(compared) << "every read overlapped a frame change";
    const std::uint32_t own = process.ReadDword(layout.GetAddress(GA_SCREEN_POINTER));
    EXPECT_EQ(own, CGameMemory::kScreenAddress);
    EXPECT_EQ(process.ReadDword(own),
              GetParam().build2021 ? CSimScene::kSignature2021 : CSimScene::kSignature2020);
}

TEST_P(WineE2e, RecordedFramesArePicturesTheGameShowed)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    const std::string path = TestFile(".dk2");
    std::string output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "record", path, "--frames", "30"}, output), 0) << output;
    ExpectRecordingOfTheDemo(path, Options(), 30, 30);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, WineE2e,
                         ::testing::Values(kV2020, kV2021, kV2020Mapped, kV2021Mapped, kV2020Loaded,
                                           kV2021Loaded),
                         TestName);

// trellon.exe beside the game, as a Windows user runs it. Wine hands it the
// Unix paths as they are (its Z: drive is the root), so the test's own paths
// serve. The Process line is the Windows process id, which only Wine knows.
class WineWindowsCli : public WineE2e
{
protected:
    // Runs trellon.exe with `args`; its lines end in CR LF, given back as LF.
    static int RunCli(std::initializer_list<std::string> args, std::string& output)
    {
        std::vector<std::string> line{TRELLON_WINE64, kCliExe};
        line.insert(line.end(), args);
        const int status = RunCapturing(line, output);
        std::erase(output, '\r');
        return status;
    }
};

TEST_P(WineWindowsCli, ProbeFindsTheGameItsKindAndThePictureShown)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    std::string output;
    ASSERT_EQ(RunCli({"probe"}, output), 0) << output;
    EXPECT_NE(output.find("Window:     0x"), std::string::npos) << output;
    EXPECT_NE(output.find("\"WARCRAFT II\"\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Readable:   yes\n"), std::string::npos) << output;
    ExpectProbeOfTheDemo(output, GetParam());
}

TEST_P(WineWindowsCli, RecordedFramesArePicturesTheGameShowed)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    const std::string path = TestFile(".dk2");
    std::string output;
    ASSERT_EQ(RunCli({"record", path, "--frames", "30"}, output), 0) << output;
    EXPECT_NE(output.find(std::string(", ") + GetParam().kindText), std::string::npos) << output;
    ExpectRecordingOfTheDemo(path, Options(), 30, 30);
    // Wine does not record one program's sound: the picture is recorded
    // alone, and the reason said once.
    const std::string told = "the recording has no sound: this version of Windows can't";
    const std::size_t at = output.find(told);
    EXPECT_NE(at, std::string::npos) << output;
    EXPECT_EQ(output.find(told, at + 1), std::string::npos) << output;
    EXPECT_NE(output.find(", no sound, "), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, WineWindowsCli,
                         ::testing::Values(kV2020, kV2021, kV2020Loaded, kV2021Loaded), TestName);

#ifdef TRELLON_APP
// The Linux application, as a person runs it beside the game under Wine:
// recording started and the video saved by `trellonhd --toggle-recording`
// and `trellonhd --save PATH`, the commands a key of the desktop runs.
class WineApp : public WineE2e
{
protected:
    void TearDown() override
    {
        Stop(m_app);
        WineE2e::TearDown();
    }

    pid_t m_app = 0;
};

TEST_P(WineApp, RecordsAndSavesOnCommandsFromAnotherProcess)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    m_app = Spawn({TRELLON_APP});
    ASSERT_GT(m_app, 0);
    // Until the application listens, the command says no TrellonHD runs.
    using Clock = std::chrono::steady_clock;
    std::string output;
    int toggled = -1;
    Clock::time_point asked;
    for (int attempt = 0; attempt < 200 && toggled != 0; ++attempt)
    {
        asked = Clock::now();
        toggled = RunCapturing({TRELLON_APP, "--toggle-recording"}, output);
        if (toggled != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(toggled, 0) << output;
    // Some 60 frames at the application's default of 30 a second (a tick
    // every 33 ms); fewer on a busy machine, never more than its ticks.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::string path = TestFile(".dk2");
    ASSERT_EQ(RunCapturing({TRELLON_APP, "--save", path}, output), 0) << output;
    const auto recordedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    ExpectRecordingOfTheDemo(path, Options(), 20, static_cast<int>(recordedMs / 33) + 1);
}

INSTANTIATE_TEST_SUITE_P(OneKind, WineApp, ::testing::Values(kV2021Loaded), TestName);
#endif

// The statistics panel reads the player tables and the unit list, which lie
// in the executable's own block of game variables, and the unit records
// allocated far from it: the map stays the game's, the panel is drawn.
TEST(WineE2eOverlay, StatsPanelDrawsOverThePanelOfV2020)
{
    pid_t game = Spawn({TRELLON_WINE64, kGamesimExe, "--seed", std::to_string(kSeed), "--fps", "30",
                        "--frames", "3000"});
    ASSERT_GT(game, 0);
    const std::string path = (TestTempFolder() / "stats.dk2").string();
    std::string output;
    const int recorded = RunCapturing(
        {TRELLON_CLI, "record", path, "--frames", "30", "--stats", "--wait", "30"}, output);
    Stop(game);
    ASSERT_EQ(recorded, 0) << output;
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, path, error), 1) << error;
    // Counted in frames, not seconds: the first Wine program of a run can
    // take a while to reach its frame rate.
    ASSERT_GE(video.GetFrameCount(), 20);

    SimOptions options;
    options.seed = kSeed;
    const std::vector<std::vector<std::uint8_t>> shown = ShownPictures(options);
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        video.GetFrame(k, picture.data(), false);
        int match = -1;
        for (std::size_t n = 0; n + 1 < shown.size() && match < 0; ++n)
            if (RowsFromFrames(picture.data(), shown, n, kFramesOneReadSpans, kWidth, kHeight, 174))
                match = static_cast<int>(n);
        ASSERT_GE(match, 0) << "frame " << k << ": the map view is not the game's";
        // The panel (left of column 174, below row 204) differs from both.
        bool differs = false;
        for (int y = 204; y < kHeight && !differs; ++y)
            for (int x = 0; x < 174 && !differs; ++x)
            {
                const std::size_t at = static_cast<std::size_t>(y * kWidth + x);
                differs = picture[at] != shown[static_cast<std::size_t>(match)][at] &&
                          picture[at] != shown[static_cast<std::size_t>(match) + 1][at];
            }
        EXPECT_TRUE(differs) << "frame " << k << ": no panel";
    }
}

// The game's sound as users have it: gamesim.exe plays its beeps through
// Wine's pulse driver into the test's own PulseAudio, as a stream of the
// game's process, and the Linux trellon records them with its frames.
TEST(WineE2eSound, TheLinuxRecorderTakesTheWindowsGameWithItsSound)
{
    CSoundServer server;
    std::string why;
    if (!server.Start(CSoundServer::Kind::PulseAudio, why))
        GTEST_SKIP() << "PulseAudio could not start here: " << why;
    pid_t game = Spawn({TRELLON_WINE64, kGamesimExe, "--sound", "--fps", "30", "--frames", "3000"});
    ASSERT_GT(game, 0);
    const std::string path = (TestTempFolder() / "wine-sound.dk2").string();
    std::string output;
    const int recorded =
        RunCapturing({TRELLON_CLI, "record", path, "--frames", "150", "--wait", "30"}, output);
    Stop(game);
    server.Stop();
    ASSERT_EQ(recorded, 0) << output;
    EXPECT_NE(output.find(", sound, "), std::string::npos) << output;
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, path, error), 1) << error;
    const CSoundTrack& sound = video.GetSound();
    ASSERT_FALSE(sound.Empty()) << output;
    std::vector<std::int16_t> samples(sound.SampleCount() * sound.Channels());
    CSoundReader reader(sound);
    ASSERT_TRUE(reader.Read(0, sound.SampleCount(), samples.data())) << reader.LastProblem();
    // The beeps, a second apart as the game plays them.
    std::vector<double> onsets;
    std::size_t quiet = 0;
    for (std::size_t i = 0; i < sound.SampleCount(); ++i)
    {
        const bool loud = std::abs(samples[i * sound.Channels()]) > 300;
        if (loud && quiet > 4800)
            onsets.push_back(sound.TimeOfSample(i));
        quiet = loud ? 0 : quiet + 1;
    }
    std::printf("%zu beeps in %.2f s of sound beside %d frames\n", onsets.size(), sound.Seconds(),
                video.GetFrameCount());
    ASSERT_GE(onsets.size(), 2u) << "the game's beeps are not in the recording";
    // Within a stream's first two seconds Wine's pulse driver plays slower,
    // and a beep there may come some 50 ms late.
    for (std::size_t k = 1; k < onsets.size(); ++k)
        EXPECT_NEAR(onsets[k] - onsets[k - 1], 1.0,
                    onsets[k - 1] - sound.TimeOfSample(0) < 2.0 ? 0.060 : 0.030)
            << "beep " << k;
}

// The window shows the picture the demo shows (the wrapper's buffer, with a
// wrapper) through the palette. It is painted right after the frame counter
// moves on, so what is on the screen is the frame before the counter read
// first, or one up to the counter read last; each row is one of those.
TEST(WineE2eWindow, ShowsThePictureShownThroughThePalette)
{
    pid_t game = Spawn({TRELLON_WINE64, kGamesimExe, "--build", "2021", "--ddraw", "--seed",
                        std::to_string(kSeed), "--fps", "10", "--frames", "3000"});
    ASSERT_GT(game, 0);
    CProcess process;
    for (int attempt = 0; attempt < 600 && !process.Attach(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(process.GetWindow(), 0u) << "gamesim.exe's window did not appear";

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    SimOptions options;
    options.build2021 = true;
    options.wrapper = true;
    options.seed = kSeed;
    options.fps = 10;
    const CSimScene scene(options);
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    bool matched = false;
    int lastFrame = -1;
    for (int attempt = 0; attempt < 20 && !matched; ++attempt)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint32_t before = process.ReadDword(CGameMemory::kFrameCounterAddress);
        xcb_get_image_reply_t* image =
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                              static_cast<xcb_drawable_t>(process.GetWindow()), 0,
                                              0, kWidth, kHeight, ~0u),
                                nullptr);
        const std::uint32_t after = process.ReadDword(CGameMemory::kFrameCounterAddress);
        ASSERT_NE(image, nullptr);
        const int first = before == CGameMemory::kFrameBusy ? 0 : static_cast<int>(before) - 1;
        const int last = static_cast<int>(after);
        ASSERT_EQ(xcb_get_image_data_length(image), 4 * kWidth * kHeight);
        const std::uint8_t* pixels = xcb_get_image_data(image); // blue, green, red, unused
        bool all = after != CGameMemory::kFrameBusy;
        for (int y = 0; y < kHeight && all; ++y)
        {
            bool row = false;
            for (int frame = std::max(first, 0); frame <= last && !row; ++frame)
            {
                scene.Picture(frame, picture.data());
                const std::uint8_t* palette = scene.Palette(frame);
                row = true;
                for (int x = 0; x < kWidth && row; ++x)
                {
                    const std::uint8_t* rgb =
                        palette + 4 * picture[static_cast<std::size_t>(y * kWidth + x)];
                    const std::uint8_t* shown = pixels + 4 * (y * kWidth + x);
                    row = shown[2] == rgb[0] && shown[1] == rgb[1] && shown[0] == rgb[2];
                }
            }
            all = row;
        }
        std::free(image);
        matched = all;
        lastFrame = last;
    }
    xcb_disconnect(c);
    Stop(game);
    EXPECT_TRUE(matched) << "the window did not show the frames around " << lastFrame;
}
// A game that loads its wrapper 2.35 s after its window appears, recorded
// by a recorder that was waiting for it: from the wrapper's first picture
// on, no frame is the game's own buffer (tests/support/LateWrapper.h). The
// Windows recorder sees only a loaded wrapper in its module list.
struct LateWrapperCase
{
    const char* name;
    bool windowsRecorder;
    bool nativeWrapper; // loaded as a library (WINEDLLOVERRIDES=ddraw=n), not mapped
};

class WineLateWrapper : public ::testing::TestWithParam<LateWrapperCase>
{
protected:
    void TearDown() override
    {
        Stop(m_record);
        Stop(m_game);
    }

    pid_t m_record = 0;
    pid_t m_game = 0;
};

TEST_P(WineLateWrapper, RecordingTakesTheWrapperFromItsFirstPicture)
{
    SimOptions options;
    options.seed = kSeed;
    options.fps = 20;
    options.wrapper = true;
    options.wrapperAfter = 2.35;
    const std::string path = (TestTempFolder() / (std::string(GetParam().name) + ".dk2")).string();
    const std::string log = (TestTempFolder() / (std::string(GetParam().name) + ".log")).string();
    std::vector<std::string> record{TRELLON_CLI};
    if (GetParam().windowsRecorder)
        record = {TRELLON_WINE64, kCliExe};
    record.insert(record.end(), {"record", path, "--frames", "150", "--wait", "60"});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    m_record = Spawn(record, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(m_record, 0);
    // The recorder waits for the game before the game starts.
    const auto text = [&]
    {
        std::ifstream in(log);
        std::string all;
        for (std::string line; std::getline(in, line);)
            all += line + "\n";
        return all;
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (text().find("waiting for the game") == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(text().find("waiting for the game"), std::string::npos) << text();

    if (GetParam().nativeWrapper)
        setenv("WINEDLLOVERRIDES", "ddraw=n", 1);
    m_game = Spawn({TRELLON_WINE64, kGamesimExe, "--seed", std::to_string(kSeed), "--fps", "20",
                    "--ddraw-after", "2.35", "--frames", "3000"});
    unsetenv("WINEDLLOVERRIDES");
    ASSERT_GT(m_game, 0);
    const int recorded = ExitCodeOf(m_record);
    m_record = 0;
    ASSERT_EQ(recorded, 0) << text();
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, path, error), 1) << error;
    LateWrapperFrames frames;
    ASSERT_NO_FATAL_FAILURE(CheckLateWrapperRecording(video, options, frames));
    EXPECT_GE(frames.own, 10) << "the recording missed the game before its wrapper came";
    EXPECT_GE(frames.wrapper, 30) << text();
}

INSTANTIATE_TEST_SUITE_P(
    EachRecorder, WineLateWrapper,
    ::testing::Values(LateWrapperCase{"LinuxRecorderMappedWrapper", false, false},
                      LateWrapperCase{"LinuxRecorderLoadedWrapper", false, true},
                      LateWrapperCase{"WindowsRecorderLoadedWrapper", true, true}),
    [](const ::testing::TestParamInfo<LateWrapperCase>& test) { return test.param.name; });
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    return RUN_ALL_TESTS();
}
