// Finding the game under real window managers from Debian's archive, each in
// a virtual X server of its own: every one of them wraps the game's window in
// frames of its own, at a depth of its own (KWin and IceWM two levels below
// the root). `trellon probe` must find the window the demo game opened.

#include "tools/gamesim/SimLaunch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace
{
using namespace std::chrono_literals;

struct WindowManager
{
    const char* name;
    const char* program; // as installed by scripts/setup
};

void PrintTo(const WindowManager& wm, std::ostream* out)
{
    *out << wm.name;
}

bool Installed(const std::string& program)
{
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/"})
        if (access((dir + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// The parent of `window`, 0 when it is gone.
xcb_window_t Parent(xcb_connection_t* c, xcb_window_t window)
{
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    const xcb_window_t parent = tree ? tree->parent : 0;
    std::free(tree);
    return parent;
}

// Runs `trellon probe` and returns its output and exit status.
std::pair<std::string, int> Probe()
{
    std::string output;
    const int status = RunCapturing({TRELLON_CLI, "probe"}, output);
    return {output, status};
}

class WindowManagerE2e : public ::testing::TestWithParam<WindowManager>
{
protected:
    void SetUp() override
    {
        if (!Installed(GetParam().program))
            GTEST_SKIP() << GetParam().program << " is not installed (scripts/setup installs it)";
        // The window managers write their settings and caches under HOME.
        m_home = std::filesystem::temp_directory_path() /
                 ("trellon-wm-home-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_home);
        setenv("HOME", m_home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CACHE_HOME");
        unsetenv("XDG_DATA_HOME");
        m_server = StartVirtualDisplay();
        ASSERT_GT(m_server, 0) << "Xvfb could not start";
    }

    void TearDown() override
    {
        Stop(m_game);
        Stop(m_wm);
        StopVirtualDisplay(m_server);
        std::error_code ec;
        std::filesystem::remove_all(m_home, ec);
    }

    pid_t m_server = 0, m_wm = 0, m_game = 0;
    std::filesystem::path m_home;
};
} // namespace

TEST_P(WindowManagerE2e, ProbeFindsTheGameInsideTheWindowManagersFrames)
{
    m_wm = Spawn({std::string("/usr/bin/") + GetParam().program});
    ASSERT_GT(m_wm, 0);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Give the window manager time to take the screen before the game comes.
    std::this_thread::sleep_for(1500ms);
    m_game = Spawn({TRELLON_GAMESIM, "--fps", "30"});
    ASSERT_GT(m_game, 0);

    // The game is found once the window manager has framed its window.
    std::string output;
    int depth = 0;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end)
    {
        int status = -1;
        std::tie(output, status) = Probe();
        const auto at = output.find("Window:     0x");
        if (status == 0 && at != std::string::npos)
        {
            auto window =
                static_cast<xcb_window_t>(std::strtoul(output.c_str() + at + 12, nullptr, 16));
            depth = 0;
            for (xcb_window_t w = window; w != 0 && w != root; w = Parent(c, w))
                ++depth;
            if (depth >= 2)
                break;
        }
        std::this_thread::sleep_for(200ms);
    }
    xcb_disconnect(c);
    EXPECT_GE(depth, 2) << GetParam().name << " did not frame the window, or it was not found:\n"
                        << output;
    EXPECT_NE(output.find("Kind:       war2 v2.0.2.0"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Debian, WindowManagerE2e,
                         ::testing::Values(WindowManager{"IceWM", "icewm"},
                                           WindowManager{"KWin", "kwin_x11"},
                                           WindowManager{"Openbox", "openbox"},
                                           WindowManager{"Fluxbox", "fluxbox"}),
                         [](const ::testing::TestParamInfo<WindowManager>& param)
                         { return std::string(param.param.name); });
