// The recording's sound as it is kept: FLAC blocks of half a second, made
// on the capture's thread and read back for playback, export and cuts.
// The sound is a stand-in for a game's: a few voices of decaying tones and
// noise bursts over a quiet bed, at 48 kHz stereo, seeded so that every run
// compresses the same minute. Reported per minute of sound: the bytes the
// blocks take (counter "bytes_per_minute") and the time to make or read
// them.
//
//   build/release/bin/sound_bench

#include "sound/SoundCodec.h"

#include <benchmark/benchmark.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace
{
constexpr std::uint32_t kRate = 48000;
constexpr std::size_t kMinute = 60 * kRate;

std::vector<std::int16_t> GameLikeMinute()
{
    std::vector<std::int16_t> samples(kMinute * 2);
    std::uint32_t seed = 12345;
    const auto random = [&seed]
    {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / static_cast<double>(1u << 24);
    };
    // Events every 50 to 400 ms: a tone (80 to 2000 Hz) or a noise burst,
    // each decaying over up to 300 ms, in one of four voices.
    struct Voice
    {
        double pitch = 0, phase = 0, level = 0, decay = 0;
        bool noise = false;
    };
    Voice voices[4];
    std::size_t nextEvent = 0;
    for (std::size_t i = 0; i < kMinute; ++i)
    {
        if (i == nextEvent)
        {
            Voice& v = voices[static_cast<std::size_t>(random() * 4) % 4];
            v.pitch = 80 + random() * 1920;
            v.level = 2000 + random() * 8000;
            v.decay = std::exp(-1.0 / (kRate * (0.05 + random() * 0.25)));
            v.noise = random() < 0.3;
            nextEvent = i + static_cast<std::size_t>(kRate * (0.05 + random() * 0.35));
        }
        double left = (random() - 0.5) * 60, right = (random() - 0.5) * 60; // the bed
        for (std::size_t n = 0; n < 4; ++n)
        {
            Voice& v = voices[n];
            if (v.level < 1)
                continue;
            v.phase += 2 * std::numbers::pi * v.pitch / kRate;
            const double value = v.level * (v.noise ? random() * 2 - 1 : std::sin(v.phase));
            left += value * (0.4 + 0.2 * static_cast<double>(n));
            right += value * (1.0 - 0.2 * static_cast<double>(n));
            v.level *= v.decay;
        }
        samples[2 * i] = static_cast<std::int16_t>(std::clamp(left, -32768.0, 32767.0));
        samples[2 * i + 1] = static_cast<std::int16_t>(std::clamp(right, -32768.0, 32767.0));
    }
    return samples;
}

const std::vector<std::int16_t>& Minute()
{
    static const std::vector<std::int16_t> minute = GameLikeMinute();
    return minute;
}

CSoundTrack Compress(const std::vector<std::int16_t>& samples)
{
    CSoundTrack track(kRate, 2, 0);
    CSoundBlockWriter writer(kRate, 2);
    std::vector<SoundBlock> done;
    std::string error;
    writer.Add(samples.data(), samples.size() / 2, done, error);
    writer.Flush(done, error);
    for (SoundBlock& block : done)
        track.Append(std::move(block));
    return track;
}

void BM_CompressAMinute(benchmark::State& state)
{
    const std::vector<std::int16_t>& minute = Minute();
    std::uint64_t bytes = 0;
    for (auto _ : state)
    {
        const CSoundTrack track = Compress(minute);
        bytes = track.CompressedBytes();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes_per_minute"] = static_cast<double>(bytes);
    state.counters["raw_bytes_per_minute"] = static_cast<double>(minute.size() * 2);
}
BENCHMARK(BM_CompressAMinute)->Unit(benchmark::kMillisecond);

void BM_DecodeAMinute(benchmark::State& state)
{
    const CSoundTrack track = Compress(Minute());
    std::vector<std::int16_t> out(kMinute * 2);
    for (auto _ : state)
    {
        CSoundReader reader(track);
        benchmark::DoNotOptimize(reader.Read(0, kMinute, out.data()));
    }
}
BENCHMARK(BM_DecodeAMinute)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
