// The Windows demo game (gamesim.exe) under 64-bit Wine, read by the Linux
// recorder: the window found through Wine's X11 driver and its _NET_WM_PID,
// the game's variables at their fixed addresses inside the executable, the
// wrapper found in /proc/PID/maps and its pvBmpBits through its export
// table, and recorded frames that are pictures the demo showed. One virtual
// X server and one Wine prefix serve the whole run; the prefix's wineserver
// is ended with it.

#include "GameLayout.h"
#include "GameMemory.h"
#include "Process.h"
#include "SimLaunch.h"
#include "TestTempFolder.h"
#include "SimScene.h"
#include "Video.h"
#include "VideoFile.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Runs a program to its end with its output collected; the exit code, or -1.
int RunCapturing(const std::vector<std::string>& args, std::string& output)
{
    output.clear();
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[4096];
    ssize_t n = 0;
    while (spawned == 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Xvfb and the Wine prefix of this run. The prefix is made (or brought
// up to date) once here, so that no test waits for it; Wine's prompts to
// install Mono and Gecko are switched off, as nothing here needs them.
class WineEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::is_regular_file(TRELLON_GAMESIM_EXE))
            << TRELLON_GAMESIM_EXE << " is missing: build the target gamesim_windows, or point "
            << "TRELLON_GAMESIM_EXE at a Windows build of gamesim";
        m_display = StartVirtualDisplay();
        ASSERT_GT(m_display, 0) << "Xvfb could not start (install xvfb: scripts/setup)";
        setenv("WINEPREFIX", TRELLON_WINE_PREFIX, 1);
        // The recorders' journals go to the test's own folder.
        setenv("XDG_STATE_HOME", (TestTempFolder() / "state").c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        std::string output;
        ASSERT_EQ(RunCapturing({TRELLON_WINE64, "wineboot", "--init"}, output), 0) << output;
        ASSERT_EQ(RunCapturing({TRELLON_WINESERVER, "--wait"}, output), 0) << output;
        unsetenv("WINEDLLOVERRIDES");
    }
    void TearDown() override
    {
        std::string output;
        RunCapturing({TRELLON_WINESERVER, "--kill"}, output);
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

// Every row equals the same row of a or of b: the demo may change frames
// while a picture is read.
bool RowsFromTwoFrames(const std::uint8_t* picture, const std::vector<std::uint8_t>& a,
                       const std::vector<std::uint8_t>& b, int from)
{
    const std::size_t length = static_cast<std::size_t>(kWidth - from);
    for (int y = 0; y < kHeight; ++y)
    {
        const std::size_t at = static_cast<std::size_t>(y * kWidth + from);
        if (std::memcmp(picture + at, &a[at], length) != 0 &&
            std::memcmp(picture + at, &b[at], length) != 0)
            return false;
    }
    return true;
}

class WineE2e : public ::testing::TestWithParam<WineGame>
{
protected:
    void TearDown() override
    {
        Stop(m_game);
        if (!m_strVideo.empty())
            std::filesystem::remove(m_strVideo);
    }

    SimOptions Options() const
    {
        SimOptions options;
        options.build2021 = GetParam().build2021;
        options.wrapper = GetParam().wrapper;
        options.seed = kSeed;
        return options;
    }

    // Starts the demo and waits until its window can be found and its
    // process read.
    void StartGame()
    {
        std::vector<std::string> args{TRELLON_WINE64, TRELLON_GAMESIM_EXE,
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
    std::string m_strVideo;
};

TEST_P(WineE2e, ProbeFindsTheGameItsKindAndThePictureShown)
{
    ASSERT_NO_FATAL_FAILURE(StartGame());
    std::string output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "probe"}, output), 0) << output;
    // The window's _NET_WM_PID, set by Wine, is the process that was started.
    EXPECT_NE(output.find("Process:    " + std::to_string(m_game) + "\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find(std::string("Kind:       ") + GetParam().kindText + "\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Screen:     640 x 480\n"), std::string::npos) << output;
    EXPECT_NE(output.find("(in game)"), std::string::npos) << output;
    if (GetParam().wrapper)
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
    m_strVideo = (std::filesystem::temp_directory_path() /
                  ("trellon-wine-e2e-" + std::to_string(getpid()) + ".dk2"))
                     .string();
    std::string output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "record", m_strVideo, "--seconds", "2"}, output), 0)
        << output;
    ASSERT_EQ(RunCapturing({TRELLON_CLI, "verify", m_strVideo}, output), 0) << output;
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, m_strVideo, error), 1) << error;
    ASSERT_EQ(video.GetWidth(), kWidth);
    ASSERT_GE(video.GetFrameCount(), 20); // about 60; fewer on a busy machine

    // The frames the demo can have shown in its first 20 seconds at 30 a
    // second; it started a few seconds before the recording.
    const CSimScene scene(Options());
    std::vector<std::vector<std::uint8_t>> shown(600, std::vector<std::uint8_t>(kWidth * kHeight));
    for (std::size_t n = 0; n < shown.size(); ++n)
        scene.Picture(static_cast<int>(n), shown[n].data());
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    std::size_t from = 0;
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        ASSERT_EQ(video.GetFrame(k, picture.data(), false), 1);
        bool found = false;
        // Frames come in order: the search goes on from the last match.
        for (std::size_t n = from; n + 1 < shown.size() && !found; ++n)
            if (RowsFromTwoFrames(picture.data(), shown[n], shown[n + 1], 0))
            {
                found = true;
                from = n;
            }
        ASSERT_TRUE(found) << "recorded frame " << k << " is no picture the demo showed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, WineE2e,
    ::testing::Values(WineGame{false, false, GK_V2020, "war2 v2.0.2.0"},
                      WineGame{true, false, GK_V2021, "war2 v2.0.2.1"},
                      WineGame{false, true, GK_V2020_DDRAW, "war2 2.0.2.0 ddraw"},
                      WineGame{true, true, GK_V2021_DDRAW, "war2 2.0.2.1 ddraw"},
                      WineGame{false, true, GK_V2020_DDRAW, "war2 2.0.2.0 ddraw", "DDRAW.DLL",
                               true}),
    [](const ::testing::TestParamInfo<WineGame>& test)
    {
        const WineGame& g = test.param;
        return std::string(g.build2021 ? "V2021" : "V2020") +
               (g.wrapper ? (g.nativeWrapper ? "LoadedWrapper" : "MappedWrapper") : "");
    });

// The statistics panel reads the player tables and the unit list, which lie
// in the executable's own block of game variables, and the unit records
// allocated far from it: the map stays the game's, the panel is drawn.
TEST(WineE2eOverlay, StatsPanelDrawsOverThePanelOfV2020)
{
    pid_t game = Spawn({TRELLON_WINE64, TRELLON_GAMESIM_EXE, "--seed", std::to_string(kSeed),
                        "--fps", "30", "--frames", "3000"});
    ASSERT_GT(game, 0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trellon-wine-stats-" + std::to_string(getpid()) + ".dk2"))
                                 .string();
    std::string output;
    const int recorded = RunCapturing(
        {TRELLON_CLI, "record", path, "--seconds", "2", "--stats", "--wait", "30"}, output);
    Stop(game);
    ASSERT_EQ(recorded, 0) << output;
    CVideo video;
    std::string error;
    ASSERT_EQ(LoadVideoFile(video, path, error), 1) << error;
    std::filesystem::remove(path);
    ASSERT_GE(video.GetFrameCount(), 20);

    SimOptions options;
    options.seed = kSeed;
    const CSimScene scene(options);
    std::vector<std::vector<std::uint8_t>> shown(600, std::vector<std::uint8_t>(kWidth * kHeight));
    for (std::size_t n = 0; n < shown.size(); ++n)
        scene.Picture(static_cast<int>(n), shown[n].data());
    std::vector<std::uint8_t> picture(kWidth * kHeight);
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        video.GetFrame(k, picture.data(), false);
        int match = -1;
        for (std::size_t n = 0; n + 1 < shown.size() && match < 0; ++n)
            if (RowsFromTwoFrames(picture.data(), shown[n], shown[n + 1], 174))
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

// The window shows the picture the demo shows (the wrapper's buffer, with a
// wrapper) through the palette. It is painted right after the frame counter
// moves on, so what is on the screen is the frame before the counter read
// first, or one up to the counter read last; each row is one of those.
TEST(WineE2eWindow, ShowsThePictureShownThroughThePalette)
{
    pid_t game = Spawn({TRELLON_WINE64, TRELLON_GAMESIM_EXE, "--build", "2021", "--ddraw", "--seed",
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
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    return RUN_ALL_TESTS();
}
