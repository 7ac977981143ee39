#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The demo game's sound (--sound): a beep track that a test can tie to the
// picture. From the sound's first sample on, every second starts a beep of
// kSimBeepSeconds at the chosen pitch (silence in between); while a beep is
// being heard, the game paints a white square into the top-left corner of
// its picture, so that a recording shows in its frames when each beep was
// heard and its sound can be checked against them.
constexpr std::uint32_t kSimSoundRate = 48000;
constexpr std::uint32_t kSimSoundChannels = 2;
constexpr double kSimBeepSeconds = 0.060;
constexpr double kSimBeepEvery = 1.0;
constexpr double kSimBeepLevel = 0.5; // of full scale

// Sample frames `first` .. first + frames - 1 of the track, interleaved
// stereo, into `out`.
void SimSoundSamples(double pitch, std::uint64_t first, std::size_t frames, std::int16_t* out);
// Whether sample frame `sample` of the track lies inside a beep.
bool SimSoundInBeep(std::uint64_t sample);

// Plays the track through the system's output, on a thread of its own.
// Each platform has its own (linux/SimSoundLinux.cpp with libpulse,
// win32/SimSoundWin32.cpp with waveOut).
class CSimSound
{
public:
    CSimSound();
    ~CSimSound();
    CSimSound(const CSimSound&) = delete;
    CSimSound& operator=(const CSimSound&) = delete;

    // Starts playing the track at `pitch` Hz. False, with the reason, when
    // there is no output.
    bool Open(double pitch, std::string& error);
    // The sample frame of the track being heard now, by the output's own
    // timing; -1 until it is known.
    std::int64_t HeardSample();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
