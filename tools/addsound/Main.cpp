// trellon-addsound: copies a ".dk2" with a sound track of known samples in
// place of whatever sound it had, so that a test can check every sample
// that comes out of an export, a cut or playback against the formula below
// without a recording of its own.
//
// The samples of sample frame i, channel c:
//   pattern (the default): ((i * 263 + c * 10007) mod 65536) - 32768, every
//     value of a 16-bit sample, and a different one on every channel, so a
//     lost, doubled, swapped or moved sample shows;
//   --tone HZ: round(16383 * sin(2 pi * HZ * (c + 1) * i / rate)), a sine
//     for the lossy encoders to keep recognisably.

#include "sound/SoundCodec.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: trellon-addsound IN.dk2 OUT.dk2 [--rate R] [--channels C] [--start-us US]\n"
    "                        [--seconds S | --samples N] [--tone HZ] [--block N]\n"
    "Writes IN's frames with a sound track of N sample frames (default: 1 second)\n"
    "at R Hz (48000) in C channels (2), its first sample US microseconds after\n"
    "frame 0 (negative: before), in blocks of N sample frames (half a second).\n"
    "The samples follow a counting pattern (see the source), or a sine with --tone.\n";

constexpr double kPi = 3.14159265358979323846;

template <typename T> bool ParseNumber(const char* text, T& value)
{
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

int Usage(const std::string& message)
{
    std::fprintf(stderr, "trellon-addsound: %s\n%s", message.c_str(), kUsage);
    return 2;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "trellon-addsound: %s\n", message.c_str());
    return 1;
}

struct Request
{
    std::string in, out;
    std::uint32_t rate = 48000, channels = 2, block = 0;
    std::int64_t startUs = 0;
    std::int64_t samples = -1;
    double seconds = 1.0;
    double tone = 0; // 0: the counting pattern
};

std::int16_t SampleAt(const Request& request, std::uint64_t i, std::uint32_t c)
{
    if (request.tone > 0)
        return static_cast<std::int16_t>(
            std::lround(16383 * std::sin(2 * kPi * request.tone * (c + 1) * static_cast<double>(i) /
                                         request.rate)));
    return static_cast<std::int16_t>(static_cast<std::int32_t>((i * 263 + c * 10007) % 65536) -
                                     32768);
}

// 0, or the exit status of a usage error.
int Parse(int argc, char** argv, Request& request)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        bool ok = true;
        if (arg == "-h" || arg == "--help")
        {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        else if (arg == "--rate")
            ok = ParseNumber(value, request.rate) && request.rate >= CSoundTrack::kMinRate &&
                 request.rate <= CSoundTrack::kMaxRate;
        else if (arg == "--channels")
            ok = ParseNumber(value, request.channels) && request.channels >= 1 &&
                 request.channels <= CSoundTrack::kMaxChannels;
        else if (arg == "--start-us")
            ok = ParseNumber(value, request.startUs);
        else if (arg == "--samples")
            ok = ParseNumber(value, request.samples) && request.samples > 0;
        else if (arg == "--seconds")
            ok = ParseNumber(value, request.seconds) && request.seconds > 0;
        else if (arg == "--tone")
            ok = ParseNumber(value, request.tone) && request.tone > 0;
        else if (arg == "--block")
            ok = ParseNumber(value, request.block) && request.block >= 1 &&
                 request.block <= CSoundTrack::kMaxBlockSamples;
        else if (arg.rfind("--", 0) == 0)
            return Usage("unknown option " + arg);
        else
        {
            files.push_back(arg);
            continue;
        }
        if (!ok || i + 1 >= argc)
            return Usage(arg + " takes a value in range");
        ++i;
    }
    if (files.size() != 2)
        return Usage("give IN.dk2 and OUT.dk2");
    request.in = files[0];
    request.out = files[1];
    if (request.samples < 0)
        request.samples = std::llround(request.seconds * request.rate);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    Request request;
    if (const int usage = Parse(argc, argv, request); usage != 0)
        return usage;
    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, request.in, error))
        return Fail(error);

    CSoundBlockWriter writer(request.rate, request.channels, request.block);
    std::vector<SoundBlock> blocks;
    std::vector<std::int16_t> chunk;
    for (std::uint64_t at = 0; at < static_cast<std::uint64_t>(request.samples);)
    {
        const std::uint64_t count =
            std::min<std::uint64_t>(4096, static_cast<std::uint64_t>(request.samples) - at);
        chunk.resize(count * request.channels);
        for (std::uint64_t i = 0; i < count; ++i)
            for (std::uint32_t c = 0; c < request.channels; ++c)
                chunk[i * request.channels + c] = SampleAt(request, at + i, c);
        if (!writer.Add(chunk.data(), count, blocks, error))
            return Fail(error);
        at += count;
    }
    if (!writer.Flush(blocks, error))
        return Fail(error);

    CSoundTrack& track = video.GetSound();
    track = CSoundTrack(request.rate, request.channels, request.startUs);
    for (SoundBlock& block : blocks)
        if (!track.Append(std::move(block)))
            return Fail("out of memory");
    std::string reason;
    if (!SaveVideoFile(video, request.out, &reason))
        return Fail("Error writing " + request.out + ": " + reason);
    std::printf("%s: %lld sample frames at %u Hz, %u channels\n", request.out.c_str(),
                static_cast<long long>(request.samples), request.rate, request.channels);
    return 0;
}
