// The sound subsystem above its platform seams: FLAC blocks, reading a
// track anywhere, cutting it, placing captured sound by when it was heard,
// the recorder's thread hand-over and the player's step with the picture.
// The fake backend stands in for the sound system.

#include "sound/fake/FakeSound.h"
#include "sound/SoundCodec.h"
#include "sound/SoundPlayer.h"
#include "sound/SoundRecorder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace
{
// Interleaved stereo whose every sample says where it is: left counts up,
// right counts down, from `first` on.
std::vector<std::int16_t> Ramp(std::int64_t first, std::size_t frames)
{
    std::vector<std::int16_t> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
    {
        const std::int64_t n = first + static_cast<std::int64_t>(i);
        samples[2 * i] = static_cast<std::int16_t>(n % 30000);
        samples[2 * i + 1] = static_cast<std::int16_t>(-(n % 30000));
    }
    return samples;
}

CSoundTrack TrackOf(const std::vector<std::int16_t>& samples, std::uint32_t blockSamples,
                    std::int64_t startUs = 0)
{
    CSoundTrack track(48000, 2, startUs);
    CSoundBlockWriter writer(48000, 2, blockSamples);
    std::vector<SoundBlock> done;
    std::string error;
    EXPECT_TRUE(writer.Add(samples.data(), samples.size() / 2, done, error)) << error;
    EXPECT_TRUE(writer.Flush(done, error)) << error;
    for (SoundBlock& block : done)
        EXPECT_TRUE(track.Append(std::move(block)));
    return track;
}

std::vector<std::int16_t> ReadAll(const CSoundTrack& track)
{
    std::vector<std::int16_t> out(track.SampleCount() * track.Channels());
    CSoundReader reader(track);
    EXPECT_TRUE(reader.Read(0, track.SampleCount(), out.data()));
    return out;
}
} // namespace

TEST(SoundCodec, BlocksGiveBackExactlyTheSamplesAndRefuseDamage)
{
    const std::vector<std::int16_t> samples = Ramp(0, 50000);
    const CSoundTrack track = TrackOf(samples, 24000);
    ASSERT_EQ(track.BlockCount(), 3u); // 24000 + 24000 + 2000
    EXPECT_EQ(track.Block(2).samples, 2000u);
    EXPECT_EQ(ReadAll(track), samples);
    EXPECT_LT(track.CompressedBytes(), samples.size() * 2); // it compresses

    // A flipped byte, a cut block, a block of another rate: refused, never
    // more samples than the block says.
    std::vector<std::int16_t> out;
    std::string error;
    SoundBlock damaged = track.Block(0);
    damaged.bytes[damaged.bytes.size() / 2] ^= 0x55;
    EXPECT_FALSE(DecodeSoundBlock(damaged, 48000, 2, out, error));
    SoundBlock cut = track.Block(0);
    cut.bytes.resize(cut.bytes.size() / 3);
    EXPECT_FALSE(DecodeSoundBlock(cut, 48000, 2, out, error));
    EXPECT_FALSE(DecodeSoundBlock(track.Block(0), 44100, 2, out, error));
    EXPECT_FALSE(DecodeSoundBlock(track.Block(0), 48000, 1, out, error));
    SoundBlock lying = track.Block(2);
    lying.samples = 1000;
    EXPECT_FALSE(DecodeSoundBlock(lying, 48000, 2, out, error));
    SoundBlock garbage{100, std::vector<std::uint8_t>(300, 0xAB)};
    EXPECT_FALSE(DecodeSoundBlock(garbage, 48000, 2, out, error));
}

TEST(SoundCodec, AReaderGivesSilenceOutsideTheTrackAndAcrossBlocks)
{
    const std::vector<std::int16_t> samples = Ramp(0, 10000);
    const CSoundTrack track = TrackOf(samples, 4000);
    CSoundReader reader(track);
    std::vector<std::int16_t> out(2 * 300);
    ASSERT_TRUE(reader.Read(-100, 300, out.data())); // 100 before the start
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 0);
    EXPECT_EQ(out[200], samples[0]);
    ASSERT_TRUE(reader.Read(3900, 300, out.data())); // across a block's end
    EXPECT_EQ(std::vector<std::int16_t>(out.begin(), out.end()),
              std::vector<std::int16_t>(samples.begin() + 7800, samples.begin() + 8400));
    ASSERT_TRUE(reader.Read(9900, 300, out.data())); // past the end
    EXPECT_EQ(out[199], samples[19999]);
    EXPECT_EQ(out[200], 0);
    EXPECT_EQ(out[599], 0);
}

TEST(SoundCodec, CuttingKeepsTheSamplesOfTheSpanAndTheirTime)
{
    // The track starts 0.5 s after frame 0; the cut takes 1.0 s .. 1.25 s.
    const std::vector<std::int16_t> samples = Ramp(0, 48000 * 2);
    const CSoundTrack track = TrackOf(samples, 24000, 500000);
    CSoundTrack cut;
    std::string error;
    ASSERT_TRUE(CutSoundTrack(track, 1.0, 1.25, cut, error)) << error;
    EXPECT_EQ(cut.StartMicroseconds(), 0);
    ASSERT_EQ(cut.SampleCount(), 12000u);
    EXPECT_EQ(ReadAll(cut), std::vector<std::int16_t>(samples.begin() + 2 * 24000,
                                                      samples.begin() + 2 * 36000));
    // A span that begins before the sound: the sound starts later in it.
    ASSERT_TRUE(CutSoundTrack(track, 0.25, 0.75, cut, error)) << error;
    EXPECT_EQ(cut.StartMicroseconds(), 250000);
    EXPECT_EQ(cut.SampleCount(), 12000u);
    // A span without sound.
    ASSERT_TRUE(CutSoundTrack(track, 5.0, 6.0, cut, error));
    EXPECT_TRUE(cut.Empty());
}

TEST(SoundPlacer, PlacesByWhenItWasHeard)
{
    CSoundPlacer placer(48000, 0.010);
    // The first piece starts the track; sound before frame 0 is dropped.
    CSoundPlacer::Placement p = placer.Place(-0.001, 480);
    EXPECT_EQ(p.skip, 48u);
    EXPECT_TRUE(placer.Started());
    EXPECT_NEAR(placer.StartSeconds(), 0.0, 1e-9);
    // Jitter within the tolerance keeps the samples continuous.
    p = placer.Place(0.010 + 0.004, 480);
    EXPECT_EQ(p.silence, 0u);
    EXPECT_EQ(p.skip, 0u);
    // A pause of the game's stream (nothing delivered for 0.3 s): silence.
    const double next = placer.NextSeconds();
    p = placer.Place(next + 0.3, 480);
    EXPECT_EQ(p.silence, 14400u);
    // A piece heard earlier than the samples placed reach loses its overlap.
    p = placer.Place(placer.NextSeconds() - 0.05, 4800);
    EXPECT_EQ(p.skip, 2400u);
    EXPECT_NEAR(placer.NextSeconds(), next + 0.3 + 0.01 + 0.05, 1e-6);
}

TEST(SoundPlacer, LetsTheJitterOfATimingBeWithoutCuttingTheSound)
{
    // Pieces of 10 ms whose times jitter by up to 25 ms either way, as
    // PipeWire's do: the samples stay one continuous run.
    CSoundPlacer placer(48000, 0.010);
    std::uint32_t seed = 7;
    int moved = 0;
    for (int i = 0; i < 6000; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        const double jitter = (static_cast<double>(seed >> 16 & 0x7FFF) / 32767.0 - 0.5) * 0.050;
        const CSoundPlacer::Placement p = placer.Place(1.0 + i * 0.010 + (i > 0 ? jitter : 0), 480);
        moved += p.silence != 0 || p.skip != 0 ? 1 : 0;
    }
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(placer.Placed(), 6000u * 480);
}

TEST(SoundPlacer, StaysInStepWithAClockThatDriftsForAnHour)
{
    // A sound card 80 ppm fast, pieces of 10 ms with up to 3 ms of jitter
    // in their time stamps: the placed samples never stray from when they
    // were heard by more than the tolerance and one piece, over an hour.
    const double tolerance = 0.010;
    CSoundPlacer placer(48000, tolerance);
    const std::size_t frames = 480;
    const double period = frames / 48000.0 / (1 + 80e-6);
    double worst = 0;
    std::uint32_t seed = 1;
    for (int i = 0; i < 360000; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        const double jitter = (static_cast<double>(seed >> 16 & 0x7FFF) / 32767.0 - 0.5) * 0.006;
        const double heard = 0.5 + i * period;
        const double before = placer.NextSeconds();
        const CSoundPlacer::Placement p = placer.Place(heard + jitter, frames);
        // Where the piece's first kept sample went against when it was heard.
        if (i > 0)
            worst = std::max(worst, std::abs(before + static_cast<double>(p.silence) / 48000.0 -
                                             (heard + static_cast<double>(p.skip) / 48000.0)));
    }
    EXPECT_LT(worst, tolerance + 0.004);
    EXPECT_NEAR(placer.NextSeconds(), 0.5 + 360000 * period, tolerance + 0.004);
}

TEST(SoundRecorder, HandsOverWhatItPlacedAndLeavesPausesOut)
{
    fakesound::SetCaptureRefusal("");
    CSoundRecorder recorder(CreateSoundCapture());
    const SoundClock::time_point origin = SoundClock::now();
    ASSERT_TRUE(recorder.Start(4242, origin));
    EXPECT_EQ(fakesound::CapturePid(), 4242u);
    EXPECT_EQ(recorder.GetState(), CSoundRecorder::State::Waiting);

    const auto at = [&](double seconds)
    {
        return origin + std::chrono::duration_cast<SoundClock::duration>(
                            std::chrono::duration<double>(seconds));
    };
    // 0.2 s from 0.1 s on, then a pause (what comes is dropped), then the
    // time line moves on by the pause and the sound goes on after a gap.
    for (int i = 0; i < 20; ++i)
        fakesound::Deliver(Ramp(i * 480, 480), at(0.1 + i * 0.01));
    EXPECT_EQ(recorder.GetState(), CSoundRecorder::State::Recording);
    recorder.SetPaused(true);
    fakesound::Deliver(Ramp(0, 48000), at(0.3));
    recorder.SetPaused(false);
    recorder.SetOrigin(origin + std::chrono::seconds(5)); // 5 s were paused
    for (int i = 0; i < 10; ++i)
        fakesound::Deliver(Ramp(100000 + i * 480, 480), at(5 + 0.4 + i * 0.01));
    recorder.Stop();
    EXPECT_FALSE(fakesound::CaptureRunning());

    std::vector<SoundBlock> blocks;
    recorder.TakeBlocks(blocks);
    CSoundTrack track(48000, 2, recorder.StartMicroseconds());
    for (SoundBlock& block : blocks)
        ASSERT_TRUE(track.Append(std::move(block)));
    EXPECT_NEAR(static_cast<double>(track.StartMicroseconds()), 100000, 1);
    // 0.2 s, 0.1 s of silence (0.3 .. 0.4), 0.1 s: 0.4 s in all.
    ASSERT_EQ(track.SampleCount(), 19200u);
    const std::vector<std::int16_t> all = ReadAll(track);
    EXPECT_EQ(std::vector<std::int16_t>(all.begin(), all.begin() + 2 * 9600), Ramp(0, 9600));
    EXPECT_EQ(all[2 * 9600], 0);
    EXPECT_EQ(all[2 * 14399 + 1], 0);
    EXPECT_EQ(std::vector<std::int16_t>(all.begin() + 2 * 14400, all.end()), Ramp(100000, 4800));
}

TEST(SoundRecorder, SaysWhyWhenTheSystemHasNoWay)
{
    fakesound::SetCaptureRefusal("no way to record one program here");
    CSoundRecorder recorder(CreateSoundCapture());
    EXPECT_FALSE(recorder.Start(1, SoundClock::now()));
    EXPECT_EQ(recorder.GetState(), CSoundRecorder::State::Unavailable);
    EXPECT_EQ(recorder.Problem(), "no way to record one program here");
    fakesound::SetCaptureRefusal("");
}

TEST(SoundPlayer, PlaysInStepWithThePictureAndJumpsWithIt)
{
    const std::vector<std::int16_t> samples = Ramp(0, 48000 * 3);
    const CSoundTrack track = TrackOf(samples, 24000, 1000000); // starts at 1 s
    fakesound::SetOutputLatency(0.050);
    CSoundPlayer player(CreateSoundOutput());
    std::string why;
    ASSERT_TRUE(player.Play(track, 1.5, why)) << why;
    ASSERT_TRUE(fakesound::OutputOpen());
    // What is pulled now is heard in 50 ms: the sound of 1.55 s, within
    // the time this test takes to get there.
    std::vector<std::int16_t> out = fakesound::Pull(480);
    const std::int64_t first = out[0];
    EXPECT_NEAR(static_cast<double>(first), 0.55 * 48000, 0.01 * 48000);
    // The next pieces follow on without a gap.
    out = fakesound::Pull(480);
    EXPECT_EQ(out[0], static_cast<std::int16_t>(first + 480));
    // The slider jumps: the sound follows.
    player.Follow(3.0);
    out = fakesound::Pull(480);
    EXPECT_NEAR(static_cast<double>(out[0]), 2.05 * 48000 - 30000 * 3, 0.01 * 48000);
    // Muted: silence, and the position goes on.
    player.SetMuted(true);
    out = fakesound::Pull(480);
    EXPECT_EQ(out[0], 0);
    player.Stop();
    EXPECT_FALSE(fakesound::OutputOpen());

    fakesound::SetOutputRefusal("no output here");
    EXPECT_FALSE(player.Play(track, 0, why));
    EXPECT_EQ(why, "no output here");
    fakesound::SetOutputRefusal("");
}
