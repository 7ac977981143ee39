#pragma once

// clang-format off
#include <windows.h>
#include <mmreg.h>
// clang-format on

#include <cstdint>

// Interleaved 16-bit PCM at `rate` with `channels` channels, the one format
// the sound is captured and played in.
inline WAVEFORMATEX Pcm16Format(std::uint32_t rate, std::uint32_t channels)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}
