#pragma once

#include "SoundServer.h"
#include "tools/gamesim/SimLaunch.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>

// For each test, a sound server of the parameter's kind and a virtual X
// server for the demo game, which the test starts into m_game; all three
// end with the test. Where the sound server can't start here the test is
// skipped, saying why.
class GameBesideServer : public ::testing::TestWithParam<CSoundServer::Kind>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!m_server.Start(GetParam(), why))
            GTEST_SKIP() << CSoundServer::Name(GetParam()) << " could not start here: " << why;
        m_display = StartVirtualDisplay();
        ASSERT_GT(m_display, 0) << "Xvfb could not start (install xvfb: scripts/setup)";
    }
    void TearDown() override
    {
        Stop(m_game);
        StopVirtualDisplay(m_display);
        m_server.Stop();
    }

    CSoundServer m_server;
    pid_t m_display = 0;
    pid_t m_game = 0;
};
