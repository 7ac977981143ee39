// The demo game's sound (gamesim --sound-hz) in a virtual X server with a
// real sound server: a capture of the game's pid hears its beeps, a second
// apart by their times, at the level and pitch the game plays them.
#include "CaptureLog.h"
#include "GameBesideServer.h"
#include "SoundServer.h"
#include "tools/gamesim/GameMemory.h"
#include "tools/gamesim/SimLaunch.h"
#include "tools/gamesim/SimScene.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/uio.h>
#include <thread>

namespace
{
using namespace std::chrono_literals;
constexpr double kRate = 48000;

class GameSound : public GameBesideServer
{
protected:
    // Bytes of the game's memory at `address`, read as the recorder does.
    void ReadGame(std::uint32_t address, std::uint8_t* out, std::size_t size) const
    {
        iovec local{out, size},
            remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), size};
        process_vm_readv(m_game, &local, 1, &remote, 1, 0);
    }
};

TEST_P(GameSound, CaptureOfTheGameHearsItsBeeps)
{
    m_game = Spawn({TRELLON_GAMESIM, "--sound-hz", "440", "--fps", "60"});
    ASSERT_GT(m_game, 0);
    CCaptureLog log;
    auto capture = CreateSoundCapture();
    std::string why;
    ASSERT_TRUE(capture->Start(static_cast<std::uint32_t>(m_game), 48000, 2, log, why)) << why;
    SoundClock::time_point came;
    ASSERT_TRUE(log.WaitForSound(SoundClock::now() - 1h, 5000ms, came))
        << "no beep heard from the game";
    // Meanwhile the picture: when the beep's square turns white, and whether
    // the game's signature stays in the first four bytes.
    std::vector<SoundClock::time_point> squares;
    bool white = false, signed_ = true;
    for (const auto end = SoundClock::now() + 3500ms; SoundClock::now() < end;)
    {
        std::uint8_t corner[4] = {}, inside = 0;
        ReadGame(CGameMemory::kScreenAddress, corner, sizeof corner);
        ReadGame(CGameMemory::kScreenAddress + 16 * 640 + 16, &inside, 1);
        const bool now = inside == 255;
        if (now && !white)
            squares.push_back(SoundClock::now());
        std::uint32_t signature = 0;
        std::memcpy(&signature, corner, sizeof signature);
        if (now)
            signed_ = signed_ && signature == CSimScene::kSignature2020;
        white = now;
        std::this_thread::sleep_for(2ms);
    }
    capture->Stop();
    EXPECT_TRUE(signed_) << "the square covered the game's signature";

    std::vector<SoundClock::time_point> onsets;
    std::vector<double> left;
    std::vector<std::size_t> starts; // where each beep starts in `left`
    std::size_t quiet = 0;
    for (const CCaptureLog::Piece& piece : log.Pieces())
        for (std::size_t i = 0; i < piece.samples.size() / 2; ++i)
        {
            const bool loud = std::abs(piece.samples[2 * i]) > 300;
            if (loud && quiet > 4800)
            {
                onsets.push_back(piece.heardAt + std::chrono::duration_cast<SoundClock::duration>(
                                                     std::chrono::duration<double>(
                                                         static_cast<double>(i) / kRate)));
                starts.push_back(left.size());
            }
            left.push_back(piece.samples[2 * i]);
            quiet = loud ? 0 : quiet + 1;
        }
    // The level of 50 ms of each beep (22 whole periods of 440 Hz); the
    // middle one is judged, as a beep the game's player or the server broke
    // up on a busy machine comes out lower.
    std::vector<double> levels;
    for (const std::size_t start : starts)
        if (start + 2400 <= left.size())
            levels.push_back(Amplitude(
                std::vector<double>(left.begin() + static_cast<std::ptrdiff_t>(start),
                                    left.begin() + static_cast<std::ptrdiff_t>(start + 2400)),
                440, kRate));
    ASSERT_GE(onsets.size(), 3u);
    for (std::size_t k = 1; k < onsets.size(); ++k)
    {
        const double apart =
            std::chrono::duration<double, std::milli>(onsets[k] - onsets[k - 1]).count();
        std::printf("%s: beep %zu heard %.2f ms after the one before\n",
                    CSoundServer::Name(GetParam()), k, apart);
        // PipeWire's pulse server times a recording of one stream only by
        // when its graph took the samples, which jitters by up to 20 ms.
        EXPECT_NEAR(apart, 1000, GetParam() == CSoundServer::Kind::PipeWire ? 25 : 10);
    }
    // Each square shows the beep heard at the time: a frame (17 ms) after
    // it, give or take the servers' difference in timing. A frame drawn late
    // on a busy machine shows its square late, so the typical (middle)
    // delay is held to that and each one only to a few frames.
    // (The capture may begin inside a beep, whose start it did not hear.)
    std::vector<double> delays;
    for (const SoundClock::time_point square : squares)
    {
        if (square < onsets.front() - 100ms)
            continue;
        double nearest = 1e9;
        for (const SoundClock::time_point onset : onsets)
        {
            const double apart = std::chrono::duration<double, std::milli>(square - onset).count();
            if (std::abs(apart) < std::abs(nearest))
                nearest = apart;
        }
        std::printf("%s: the square turned white %.1f ms after its beep was heard\n",
                    CSoundServer::Name(GetParam()), nearest);
        EXPECT_NEAR(nearest, 8, 100);
        delays.push_back(nearest);
    }
    ASSERT_GE(delays.size(), 2u) << "no square in the picture";
    std::sort(delays.begin(), delays.end());
    EXPECT_NEAR(delays[delays.size() / 2], 8, 35);
    ASSERT_FALSE(levels.empty());
    std::sort(levels.begin(), levels.end());
    const double level = Decibels(levels[levels.size() / 2], 0.5 * 32767);
    std::printf("%s: the beeps' 440 Hz at %.2f dB of the game's level\n",
                CSoundServer::Name(GetParam()), level);
    EXPECT_NEAR(level, 0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Servers, GameSound,
                         ::testing::Values(CSoundServer::Kind::PulseAudio,
                                           CSoundServer::Kind::PipeWire),
                         [](const auto& server) { return CSoundServer::Name(server.param); });
} // namespace
