#include "tools/gamesim/SimSound.h"

#include <cmath>
#include <numbers>

namespace
{
constexpr auto kBeepSamples = static_cast<std::uint64_t>(kSimBeepSeconds * kSimSoundRate);
constexpr auto kEverySamples = static_cast<std::uint64_t>(kSimBeepEvery * kSimSoundRate);
} // namespace

bool SimSoundInBeep(std::uint64_t sample)
{
    return sample % kEverySamples < kBeepSamples;
}

void SimSoundSamples(double pitch, std::uint64_t first, std::size_t frames, std::int16_t* out)
{
    for (std::size_t i = 0; i < frames; ++i)
    {
        const std::uint64_t sample = first + i;
        double value = 0;
        if (SimSoundInBeep(sample))
        {
            const double t = static_cast<double>(sample % kEverySamples) / kSimSoundRate;
            value = kSimBeepLevel * 32767.0 * std::sin(2 * std::numbers::pi * pitch * t);
        }
        const auto level = static_cast<std::int16_t>(std::lround(value));
        for (std::uint32_t c = 0; c < kSimSoundChannels; ++c)
            out[i * kSimSoundChannels + c] = level;
    }
}
