// The libpulse capture against real servers, PulseAudio and PipeWire each
// started by the test: it hears the one program it is given and nothing
// else, times what it hears as the player's own clock does, and follows the
// program's stream when it starts again or moves to another sink.
#include "CaptureLog.h"
#include "SoundServer.h"
#include "TonePlayer.h"
#include "tests/support/TestTempFolder.h"
#include "tools/gamesim/SimLaunch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <numbers>
#include <thread>

namespace
{
using namespace std::chrono_literals;
constexpr double kRate = CTonePlayer::kRate;
constexpr double kHalfScale = 0.5 * 32767;

class PulseCapture : public ::testing::TestWithParam<CSoundServer::Kind>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!m_server.Start(GetParam(), why))
            GTEST_SKIP() << CSoundServer::Name(GetParam()) << " could not start here: " << why;
    }
    void TearDown() override
    {
        if (m_pCapture)
            m_pCapture->Stop();
        Stop(m_other);
        m_server.Stop();
    }

    void StartCapture(std::uint32_t pid, CCaptureLog& log)
    {
        std::string why;
        m_pCapture = CreateSoundCapture();
        ASSERT_TRUE(m_pCapture->Start(pid, CTonePlayer::kRate, CTonePlayer::kChannels, log, why))
            << why;
    }

    // Another program playing a tone of `pitch` Hz: pacat with a raw file.
    void StartOtherProgram(double pitch)
    {
        const std::string file = (TestTempFolder() / "other.raw").string();
        std::vector<std::int16_t> samples(20 * CTonePlayer::kRate * 2);
        Tone(pitch, 0.5)(0, samples.size() / 2, samples.data());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(std::int16_t)));
        m_other = Spawn({"/usr/bin/pacat", "--raw", "--format=s16le", "--rate=48000",
                         "--channels=2", std::string("--device=") + CSoundServer::kSink, file});
        ASSERT_GT(m_other, 0) << "pacat could not start (install pulseaudio-utils: scripts/setup)";
    }

    CSoundServer m_server;
    // What the capture delivers to; it outlives the capture, which TearDown
    // stops when a test ends early.
    CCaptureLog m_log;
    std::unique_ptr<ISoundCapture> m_pCapture;
    pid_t m_other = 0;
};

TEST_P(PulseCapture, HearsTheGivenProgramAndNoOther)
{
    ASSERT_NO_FATAL_FAILURE(StartOtherProgram(1000));
    CTonePlayer game(Tone(440, 0.5));
    std::string why;
    ASSERT_TRUE(game.Open(why)) << why;
    CCaptureLog& log = m_log;
    CCaptureLog otherLog;
    ASSERT_NO_FATAL_FAILURE(StartCapture(static_cast<std::uint32_t>(getpid()), log));
    SoundClock::time_point came;
    ASSERT_TRUE(log.WaitForSound(SoundClock::now() - 1h, 2000ms, came)) << "nothing heard";
    // The other program does play, where a capture of its own pid hears it.
    auto other = CreateSoundCapture();
    ASSERT_TRUE(other->Start(static_cast<std::uint32_t>(m_other), CTonePlayer::kRate,
                             CTonePlayer::kChannels, otherLog, why))
        << why;
    std::this_thread::sleep_for(1500ms);
    m_pCapture->Stop();
    other->Stop();

    const std::vector<double> heard = LeftChannel(log.Pieces(), came + 200ms);
    const std::vector<double> otherHeard = LeftChannel(otherLog.Pieces(), came + 500ms);
    ASSERT_GT(heard.size(), CTonePlayer::kRate / 2);
    ASSERT_GT(otherHeard.size(), CTonePlayer::kRate / 2);
    const double game440 = Amplitude(heard, 440, kRate), game1000 = Amplitude(heard, 1000, kRate);
    // Each tone at its level, as most of the second holds it; the other's,
    // anywhere in it, far below.
    const double gameLevel = Decibels(SteadyAmplitude(heard, 440, kRate), kHalfScale);
    const double otherLevel = Decibels(SteadyAmplitude(otherHeard, 1000, kRate), kHalfScale);
    std::printf("%s: 440 Hz at %.2f dB of its level, 1000 Hz at %.1f dB; the other program's "
                "capture: 1000 Hz at %.2f dB, 440 Hz at %.1f dB\n",
                CSoundServer::Name(GetParam()), gameLevel, Decibels(game1000, game440), otherLevel,
                Decibels(Amplitude(otherHeard, 440, kRate), kHalfScale));
    EXPECT_NEAR(gameLevel, 0, 1.0);
    EXPECT_LT(Decibels(game1000, game440), -60);
    EXPECT_NEAR(otherLevel, 0, 1.0);
    EXPECT_LT(Decibels(Amplitude(otherHeard, 440, kRate), kHalfScale), -60);
}

TEST_P(PulseCapture, TimesTheSoundAsThePlayerHearsIt)
{
    constexpr std::uint64_t kEvery = CTonePlayer::kRate / 2; // a beep each half second
    CTonePlayer game(Beeps(440, CTonePlayer::kRate / 20, kEvery));
    std::string why;
    ASSERT_TRUE(game.Open(why)) << why;
    CCaptureLog& log = m_log;
    const SoundClock::time_point started = SoundClock::now();
    ASSERT_NO_FATAL_FAILURE(StartCapture(static_cast<std::uint32_t>(getpid()), log));
    // The player's clock: at each moment, which of its frames is heard.
    struct Reading
    {
        SoundClock::time_point at;
        std::int64_t sample;
    };
    std::vector<Reading> readings;
    while (SoundClock::now() < started + 5s)
    {
        const auto before = SoundClock::now();
        const std::int64_t sample = game.HeardSample();
        const auto after = SoundClock::now();
        if (sample >= 0)
            readings.push_back({before + (after - before) / 2, sample});
        std::this_thread::sleep_for(2ms);
    }
    m_pCapture->Stop();
    ASSERT_FALSE(readings.empty());

    // When the player says beep `k` starts being heard: from its reading
    // nearest before that frame.
    const auto playerOnset = [&](std::int64_t k)
    {
        const std::int64_t onset = k * static_cast<std::int64_t>(kEvery);
        const Reading* best = &readings.front();
        for (const Reading& r : readings)
            if (r.sample <= onset)
                best = &r;
        return best->at +
               std::chrono::duration_cast<SoundClock::duration>(std::chrono::duration<double>(
                   static_cast<double>(onset - best->sample) / kRate));
    };
    std::vector<double> errorsMs;
    double firstSecond = 0; // the worst error in the first second
    std::size_t quiet = 0;
    for (const CCaptureLog::Piece& piece : log.Pieces())
        for (std::size_t i = 0; i < piece.samples.size() / 2; ++i)
        {
            const bool loud = std::abs(piece.samples[2 * i]) > 300;
            if (loud && quiet > 2000)
            {
                const auto captured =
                    piece.heardAt +
                    std::chrono::duration_cast<SoundClock::duration>(
                        std::chrono::duration<double>(static_cast<double>(i) / kRate));
                // Which beep: the one the player's clock puts nearest.
                const auto k = std::llround(
                    std::chrono::duration<double>(captured - playerOnset(0)).count() * 2);
                const double error =
                    std::chrono::duration<double, std::milli>(captured - playerOnset(k)).count();
                if (captured > started + 1s)
                    errorsMs.push_back(error);
                else
                    firstSecond = std::max(firstSecond, std::abs(error));
            }
            quiet = loud ? 0 : quiet + 1;
        }
    ASSERT_GE(errorsMs.size(), 6u) << "too few beeps heard";
    double worst = 0, sum = 0;
    for (const double e : errorsMs)
    {
        worst = std::max(worst, std::abs(e));
        sum += e;
    }
    std::printf("%s: %zu beep onsets from 1 s on, captured minus player's time: mean %.2f ms, "
                "worst %.2f ms (worst in the first second: %.2f ms)\n",
                CSoundServer::Name(GetParam()), errorsMs.size(),
                sum / static_cast<double>(errorsMs.size()), worst, firstSecond);
    // pipewire-pulse reports no latency for a recording of one stream (its
    // sink and source latencies are 0), so the capture can only say when
    // the graph took the samples from the player; the player's own clock
    // puts them some 10 to 25 ms later, by a delay that counts the pulse
    // server's queue and so jitters with it. PulseAudio reports the
    // monitor's latency and is held to 20 ms.
    // A stall of this shared machine (the player's thread or the server held
    // up for tens of milliseconds) can move one onset: all the others hold
    // the bound, and that one is off by less than twice as much.
    const double limit = GetParam() == CSoundServer::Kind::PulseAudio ? 20.0 : 50.0;
    std::vector<double> sizes(errorsMs.size());
    std::transform(errorsMs.begin(), errorsMs.end(), sizes.begin(),
                   [](double e) { return std::abs(e); });
    std::sort(sizes.begin(), sizes.end());
    EXPECT_LT(sizes[sizes.size() - 2], limit);
    EXPECT_LT(worst, 2 * limit);
}

TEST_P(PulseCapture, FollowsANewStreamOfTheSameProgram)
{
    CTonePlayer game(Tone(440, 0.5));
    std::string why;
    ASSERT_TRUE(game.Open(why)) << why;
    CCaptureLog& log = m_log;
    ASSERT_NO_FATAL_FAILURE(StartCapture(static_cast<std::uint32_t>(getpid()), log));
    SoundClock::time_point came;
    ASSERT_TRUE(log.WaitForSound(SoundClock::now() - 1h, 2000ms, came));

    game.Close();
    const auto closed = SoundClock::now();
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(game.Open(why)) << why;
    const auto reopened = SoundClock::now();
    ASSERT_TRUE(log.WaitForSound(reopened, 1000ms, came)) << "the new stream was not heard";
    std::printf("%s: sound again %.0f ms after the new stream opened\n",
                CSoundServer::Name(GetParam()),
                std::chrono::duration<double, std::milli>(came - reopened).count());
    const std::vector<CCaptureLog::Change> changes = log.Changes();
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_TRUE(changes[0].attached);
    EXPECT_FALSE(changes[1].attached);
    EXPECT_LT(changes[1].at - closed, 1s);
    EXPECT_TRUE(changes[2].attached);

    // Nothing comes after Stop.
    m_pCapture->Stop();
    const std::size_t pieces = log.Pieces().size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(log.Pieces().size(), pieces);
}

TEST_P(PulseCapture, FollowsTheStreamToAnotherSink)
{
    ASSERT_NO_FATAL_FAILURE(StartOtherProgram(1000));
    CTonePlayer game(Tone(440, 0.5));
    std::string why;
    ASSERT_TRUE(game.Open(why)) << why;
    CCaptureLog& log = m_log;
    ASSERT_NO_FATAL_FAILURE(StartCapture(static_cast<std::uint32_t>(getpid()), log));
    SoundClock::time_point came;
    ASSERT_TRUE(log.WaitForSound(SoundClock::now() - 1h, 2000ms, came));

    // Where the other sink's streams show in `pactl list short sink-inputs`.
    std::string output;
    ASSERT_EQ(RunCapturing({"pactl", "list", "short", "sinks"}, output), 0);
    const std::size_t name = output.find(std::string("\t") + CSoundServer::kOtherSink + "\t");
    ASSERT_NE(name, std::string::npos) << output;
    const std::size_t line = output.rfind('\n', name);
    const std::size_t from = line == std::string::npos ? 0 : line + 1;
    const std::string there =
        std::to_string(game.SinkInputIndex()) + "\t" + output.substr(from, name - from) + "\t";
    // Now and then WirePlumber lets a move go unheeded; it is asked again
    // then (the capture must not care where the stream is, or how often it
    // was asked).
    auto moved = SoundClock::now();
    bool seenThere = false;
    for (int ask = 0; ask < 3 && !seenThere; ++ask)
    {
        moved = SoundClock::now();
        ASSERT_EQ(RunCapturing({"pactl", "move-sink-input", std::to_string(game.SinkInputIndex()),
                                CSoundServer::kOtherSink},
                               output),
                  0)
            << output;
        for (int look = 0; look < 20 && !seenThere; ++look)
        {
            seenThere = RunCapturing({"pactl", "list", "short", "sink-inputs"}, output) == 0 &&
                        output.find(there) != std::string::npos;
            if (!seenThere)
                std::this_thread::sleep_for(50ms);
        }
    }
    if (!seenThere)
        GTEST_SKIP() << CSoundServer::Name(GetParam()) << " did not move the stream to "
                     << CSoundServer::kOtherSink << " when asked three times: " << output;
    // PulseAudio ends a recording of one stream when the stream moves, and
    // the capture attaches again on the new sink; PipeWire's recording
    // follows the stream by itself. Either way the game is heard again, and
    // alone: the other program plays on the first sink.
    std::this_thread::sleep_for(1000ms);
    const std::vector<CCaptureLog::Change> changes = log.Changes();
    SoundClock::time_point again = moved;
    if (changes.size() > 1)
    {
        ASSERT_EQ(changes.size(), 3u);
        EXPECT_FALSE(changes[1].attached);
        EXPECT_TRUE(changes[2].attached);
        EXPECT_LT(changes[2].at - moved, 1s);
        again = changes[2].at;
    }
    ASSERT_TRUE(log.WaitForSound(again, 1000ms, came)) << "not heard after the move";
    EXPECT_LT(came - moved, 1s);
    // What the recording holds once the move is done, a second of it: the
    // moment PipeWire carries the move out (its links changing under a busy
    // machine) is not what this measures.
    std::this_thread::sleep_for(1500ms);
    m_pCapture->Stop();
    const std::vector<double> heard = LeftChannel(log.Pieces(), came + 500ms);
    ASSERT_GT(heard.size(), CTonePlayer::kRate / 2);
    const double game440 = Amplitude(heard, 440, kRate);
    const double gameLevel = Decibels(SteadyAmplitude(heard, 440, kRate), kHalfScale);
    std::printf("%s: %s, heard %.0f ms after the move, 440 Hz at %.2f dB, 1000 Hz at %.1f dB\n",
                CSoundServer::Name(GetParam()),
                changes.size() > 1 ? "attached again" : "followed without a break",
                std::chrono::duration<double, std::milli>(came - moved).count(), gameLevel,
                Decibels(Amplitude(heard, 1000, kRate), game440));
    EXPECT_NEAR(gameLevel, 0, 1.0);
    EXPECT_LT(Decibels(Amplitude(heard, 1000, kRate), game440), -60);
}

TEST_P(PulseCapture, ConnectsAgainWhenTheServerComesBack)
{
    auto game = std::make_unique<CTonePlayer>(Tone(440, 0.5));
    std::string why;
    ASSERT_TRUE(game->Open(why)) << why;
    CCaptureLog& log = m_log;
    ASSERT_NO_FATAL_FAILURE(StartCapture(static_cast<std::uint32_t>(getpid()), log));
    SoundClock::time_point came;
    ASSERT_TRUE(log.WaitForSound(SoundClock::now() - 1h, 2000ms, came));

    game.reset();
    const auto restarted = SoundClock::now();
    ASSERT_TRUE(m_server.Restart(why)) << why;
    ASSERT_EQ(log.Changes().size(), 2u);
    EXPECT_FALSE(log.Changes()[1].attached);
    EXPECT_LT(log.Changes()[1].at, restarted + 500ms);
    game = std::make_unique<CTonePlayer>(Tone(440, 0.5));
    ASSERT_TRUE(game->Open(why)) << why;
    const auto back = SoundClock::now();
    // A second to notice, and the attaching.
    ASSERT_TRUE(log.WaitForSound(back, 2000ms, came)) << "not heard after the server came back";
    std::printf("%s: heard again %.0f ms after the server and the game came back\n",
                CSoundServer::Name(GetParam()),
                std::chrono::duration<double, std::milli>(came - back).count());
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseCapture,
                         ::testing::Values(CSoundServer::Kind::PulseAudio,
                                           CSoundServer::Kind::PipeWire),
                         [](const auto& server) { return CSoundServer::Name(server.param); });

TEST(PulseCaptureWithoutServer, RefusesWithTheReason)
{
    setenv("PULSE_SERVER", ("unix:" + (TestTempFolder() / "no-server").string()).c_str(), 1);
    CCaptureLog log;
    std::string why;
    auto capture = CreateSoundCapture();
    EXPECT_FALSE(capture->Start(1, 48000, 2, log, why));
    EXPECT_NE(why.find("no sound server answers"), std::string::npos) << why;
}
} // namespace
