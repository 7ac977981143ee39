// Reads any bytes as the sound section that follows a ".dk2" file's tables
// and plays every block it accepts through the FLAC decoder and the reader,
// across the track's edges; and, since the section's checksums keep most
// inputs from its blocks, the same bytes as one block straight to the
// decoder.
#include "sound/SoundCodec.h"
#include "video/SoundTrack.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr)
        return 0;
    CSoundTrack track;
    std::string error;
    const SoundReadResult read = ReadSoundSection(file, track, error);
    std::fclose(file);
    if (size >= 1)
    {
        SoundBlock block{1u + data[0] * 64u, std::vector<std::uint8_t>(data, data + size)};
        std::vector<std::int16_t> samples;
        DecodeSoundBlock(block, 48000, 1 + (data[0] & 1), samples, error);
    }
    if (read != SR_OK || track.SampleCount() > (1u << 22))
        return 0;
    CSoundReader reader(track);
    std::vector<std::int16_t> out(std::size_t{4096} * track.Channels());
    const auto total = static_cast<std::int64_t>(track.SampleCount());
    for (std::int64_t at = -1000; at < total + 1000; at += 4000)
        reader.Read(at, 4096, out.data());
    return 0;
}
