// The libpulse output against real servers: a track played through the
// player arrives at the sink, as a recording of the sink's monitor shows,
// and the output says a latency near what it asked for.
#include "CaptureLog.h"
#include "SoundServer.h"
#include "TonePlayer.h"
#include "sound/SoundCodec.h"
#include "sound/SoundPlayer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <thread>

namespace
{
using namespace std::chrono_literals;

class PulseOutput : public ::testing::TestWithParam<CSoundServer::Kind>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!m_server.Start(GetParam(), why))
            GTEST_SKIP() << CSoundServer::Name(GetParam()) << " could not start here: " << why;
    }
    CSoundServer m_server;
};

CSoundTrack ToneTrack(double pitch, double seconds)
{
    CSoundTrack track(CTonePlayer::kRate, CTonePlayer::kChannels, 0);
    CSoundBlockWriter writer(CTonePlayer::kRate, CTonePlayer::kChannels);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * CTonePlayer::kRate) * 2);
    Tone(pitch, 0.5)(0, samples.size() / 2, samples.data());
    std::vector<SoundBlock> blocks;
    std::string error;
    EXPECT_TRUE(writer.Add(samples.data(), samples.size() / 2, blocks, error)) << error;
    EXPECT_TRUE(writer.Flush(blocks, error)) << error;
    for (SoundBlock& block : blocks)
        EXPECT_TRUE(track.Append(std::move(block)));
    return track;
}

TEST_P(PulseOutput, PlaysTheTrackIntoTheSink)
{
    const CSoundTrack track = ToneTrack(440, 4);
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, CTonePlayer::kRate, CTonePlayer::kChannels};
    int error = 0;
    const std::string monitor = std::string(CSoundServer::kSink) + ".monitor";
    pa_simple* recorder = pa_simple_new(nullptr, "trellon test", PA_STREAM_RECORD, monitor.c_str(),
                                        "monitor", &sampleFormat, nullptr, nullptr, &error);
    ASSERT_NE(recorder, nullptr) << pa_strerror(error);

    CSoundPlayer player(CreateSoundOutput());
    std::string why;
    ASSERT_TRUE(player.Play(track, 0, why)) << why;
    const auto started = SoundClock::now();
    std::vector<double> heard;
    std::vector<std::int16_t> chunk(CTonePlayer::kRate / 50 * 2);
    while (SoundClock::now() < started + 2500ms)
    {
        ASSERT_EQ(
            pa_simple_read(recorder, chunk.data(), chunk.size() * sizeof(std::int16_t), &error), 0)
            << pa_strerror(error);
        if (SoundClock::now() > started + 1s)
            for (std::size_t i = 0; i < chunk.size(); i += 2)
                heard.push_back(chunk[i]);
        player.Follow(std::chrono::duration<double>(SoundClock::now() - started).count());
    }
    pa_simple_free(recorder);

    const double level = Decibels(Amplitude(heard, 440, CTonePlayer::kRate), 0.5 * 32767);
    std::printf("%s: 440 Hz arrived at %.2f dB of its level\n", CSoundServer::Name(GetParam()),
                level);
    EXPECT_NEAR(level, 0, 1.0);
    player.Stop();
}

// The latency the output reports is the stream's: about the 50 ms asked for,
// never nothing once it plays, never seconds.
class CQuiet : public ISoundSource
{
public:
    void Fill(std::int16_t* out, std::size_t frames) override
    {
        std::fill(out, out + frames * 2, std::int16_t{0});
        ++m_nFills;
    }
    std::atomic<int> m_nFills{0};
};

TEST_P(PulseOutput, SaysItsLatencyAndStopsPulling)
{
    CQuiet source;
    auto output = CreateSoundOutput();
    std::string why;
    ASSERT_TRUE(output->Open(CTonePlayer::kRate, 2, source, why)) << why;
    std::this_thread::sleep_for(1000ms);
    const double latency = output->Latency();
    std::printf("%s: the output's latency is %.1f ms\n", CSoundServer::Name(GetParam()),
                latency * 1000);
    EXPECT_GT(latency, 0.005);
    EXPECT_LT(latency, 0.200);
    EXPECT_GT(source.m_nFills.load(), 10);
    output->Close();
    const int fills = source.m_nFills.load();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(source.m_nFills.load(), fills);
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseOutput,
                         ::testing::Values(CSoundServer::Kind::PulseAudio,
                                           CSoundServer::Kind::PipeWire),
                         [](const auto& server) { return CSoundServer::Name(server.param); });
} // namespace
