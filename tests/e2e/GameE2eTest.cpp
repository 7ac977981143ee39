// The real Linux backend against the demo game in a real X server: finding
// the window, reading the process, recognising each build and wrapper, and
// following the game when it ends and starts again.

#include "capture/GameLayout.h"
#include "process/Process.h"
#include "tools/gamesim/SimLaunch.h"
#include "tests/support/TestTempFolder.h"
#include "tools/gamesim/GameMemory.h"
#include "tools/gamesim/SimScene.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace
{
// One virtual X server for the whole run; Xvfb picks a free display itself
// and writes its number to a pipe.
class XServer : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // Journals of the recorders these tests start go to the test's own
        // folder, never to the user's.
        setenv("XDG_STATE_HOME", (TestTempFolder() / "state").c_str(), 1);
        unsetenv("LOCALAPPDATA");
        m_pid = StartVirtualDisplay();
        ASSERT_GT(m_pid, 0) << "Xvfb could not start (install xvfb: scripts/setup)";
    }
    void TearDown() override { StopVirtualDisplay(m_pid); }

private:
    pid_t m_pid = 0;
};

struct Game
{
    bool build2021;
    bool wrapper;
    int kind;
    const char* wrapperName = "ddraw.dll"; // as the file is named in the game's folder
};

void PrintTo(const Game& game, std::ostream* out)
{
    *out << "v2.0.2." << (game.build2021 ? 1 : 0)
         << (game.wrapper ? std::string(" with ") + game.wrapperName : "");
}

class GameE2e : public ::testing::TestWithParam<Game>
{
protected:
    void TearDown() override { Stop(m_game); }

    void StartGame()
    {
        std::vector<std::string> args{TRELLON_GAMESIM, "--build",
                                      GetParam().build2021 ? "2021" : "2020", "--fps", "60"};
        if (GetParam().wrapper)
            args.insert(args.end(), {"--ddraw-name", GetParam().wrapperName});
        m_game = Spawn(args);
        ASSERT_GT(m_game, 0);
    }

    // The window appears a moment after the process starts.
    bool AttachWithin(CProcess& process, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end)
        {
            if (process.Attach())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    pid_t m_game = 0;
};
} // namespace

TEST_P(GameE2e, FindsRecognisesAndReadsTheShownPicture)
{
    StartGame();
    CProcess process;
    ASSERT_TRUE(AttachWithin(process, std::chrono::seconds(10)));
    CGameLayout layout;
    // The wrapper is mapped before the window appears, so one Detect sees it.
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GetParam().kind);
    EXPECT_EQ(process.ReadDword(layout.GetAddress(GA_SCREEN_SIZE)), 640u | (480u << 16));

    // The picture behind GA_SCREEN_BITS is the scene frame the demo says it
    // shows; the frame counter read before and after tells a torn read.
    SimOptions options;
    options.build2021 = GetParam().build2021;
    options.wrapper = GetParam().wrapper;
    const CSimScene scene(options);
    std::vector<std::uint8_t> read(640 * 480), expected(640 * 480);
    bool compared = false;
    for (int attempt = 0; attempt < 50 && !compared; ++attempt)
    {
        const std::uint32_t picture = process.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
        const std::uint32_t before = process.ReadDword(CGameMemory::kFrameCounterAddress);
        ASSERT_TRUE(process.ReadBlock(picture, read.data(), read.size()));
        const std::uint32_t after = process.ReadDword(CGameMemory::kFrameCounterAddress);
        if (before != after || before == CGameMemory::kFrameBusy)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            continue;
        }
        scene.Picture(static_cast<int>(before), expected.data());
        EXPECT_EQ(read, expected) << "frame " << before;
        compared = true;
    }
    EXPECT_TRUE(compared) << "every read overlapped a frame change";

    // The game's own buffer carries the in-game signature.
    const std::uint32_t own = process.ReadDword(layout.GetAddress(GA_SCREEN_POINTER));
    const std::uint32_t signature = process.ReadDword(own);
    EXPECT_EQ(signature,
              GetParam().build2021 ? CSimScene::kSignature2021 : CSimScene::kSignature2020);
}

TEST_P(GameE2e, EndedGameIsReleasedAndARestartedOneFound)
{
    StartGame();
    CProcess process;
    ASSERT_TRUE(AttachWithin(process, std::chrono::seconds(10)));
    Stop(m_game);
    EXPECT_FALSE(process.Attach());
    EXPECT_EQ(process.GetHandle(), nullptr);
    EXPECT_EQ(process.ReadDword(0x0048807B), 0u); // detached: reads nothing, raises nothing
    StartGame();
    ASSERT_TRUE(AttachWithin(process, std::chrono::seconds(10)));
    CGameLayout layout;
    layout.Detect(process);
    EXPECT_EQ(layout.GetKind(), GetParam().kind);
}

// The window search, for one build.
class WindowSearchE2e : public GameE2e
{
};

TEST_P(WindowSearchE2e, FindsTheWindowInsideAWindowManagerFrame)
{
    StartGame();
    CProcess process;
    ASSERT_TRUE(AttachWithin(process, std::chrono::seconds(10)));
    const auto client = static_cast<xcb_window_t>(process.GetWindow());
    ASSERT_NE(client, 0u);

    // Put the game's window into an untitled frame, as a window manager does.
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t frame = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, frame, screen->root, 0, 0, 700, 520, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, frame);
    xcb_reparent_window(c, client, frame, 10, 30);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // wait until done

    CProcess again;
    EXPECT_TRUE(again.Attach());
    EXPECT_EQ(again.GetWindow(), client);
    xcb_disconnect(c);
}

TEST_P(WindowSearchE2e, FindsTheWindowTwoLevelsBelowAFrame)
{
    // KWin and IceWM put the client into a container inside the frame.
    StartGame();
    CProcess process;
    ASSERT_TRUE(AttachWithin(process, std::chrono::seconds(10)));
    const auto client = static_cast<xcb_window_t>(process.GetWindow());
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t parent = screen->root;
    for (int level = 0; level < 3; ++level) // frame, container, a Wine desktop's window
    {
        const xcb_window_t wrapper = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, wrapper, parent, 0, 0, 700, 520, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(c, wrapper);
        parent = wrapper;
    }
    xcb_reparent_window(c, client, parent, 0, 0);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    CProcess again;
    EXPECT_TRUE(again.Attach());
    EXPECT_EQ(again.GetWindow(), client);
    xcb_disconnect(c);
}

INSTANTIATE_TEST_SUITE_P(
    EachBuild, GameE2e,
    ::testing::Values(Game{false, false, GK_V2020}, Game{true, false, GK_V2021},
                      Game{false, true, GK_V2020_DDRAW}, Game{true, true, GK_V2021_DDRAW},
                      // Old games' folders are full of upper-case names.
                      Game{false, true, GK_V2020_DDRAW, "DDRAW.DLL"}),
    [](const ::testing::TestParamInfo<Game>& param)
    {
        return std::string(param.param.build2021 ? "V2021" : "V2020") +
               (!param.param.wrapper                                     ? "Plain"
                : std::strcmp(param.param.wrapperName, "ddraw.dll") == 0 ? "Ddraw"
                                                                         : "UpperCaseDdraw");
    });

INSTANTIATE_TEST_SUITE_P(OneBuild, WindowSearchE2e,
                         ::testing::Values(Game{false, false, GK_V2020}));

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XServer);
    return RUN_ALL_TESTS();
}
