#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The platform seam of the sound: how one program's own sound is recorded.
// Each backend (sound/linux: libpulse; sound/win32: process loopback;
// sound/fake: a test's own samples) implements CreateSoundCapture, and the
// build links exactly one, as for the game's process.

using SoundClock = std::chrono::steady_clock;

// Where a capture delivers, on the capture's own thread.
class ISoundCaptureSink
{
public:
    virtual ~ISoundCaptureSink() = default;
    // `frames` sample frames of interleaved 16-bit samples, at the rate and
    // channel count the capture was started with. `heardAt` is when the
    // first of them came (or comes) out of the speakers, by the sound
    // system's own timing of the stream, on the steady clock.
    virtual void OnSound(const std::int16_t* samples, std::size_t frames,
                         SoundClock::time_point heardAt) = 0;
    // The program's stream was found (true) or went away (false). Not
    // called for a stream that was never there.
    virtual void OnStreamChanged(bool attached) = 0;
};

class ISoundCapture
{
public:
    virtual ~ISoundCapture() = default;
    // Starts recording the sound that process `pid` (on Windows, with its
    // child processes) plays, at `rate` Hz and `channels` channels, and
    // nothing else: no other program's sound, not the whole output. Until
    // Stop, every stream of that process is followed, found again within a
    // second when it comes back. False, with a sentence saying why, when
    // this system can't record one program's sound at all.
    virtual bool Start(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels,
                       ISoundCaptureSink& sink, std::string& why) = 0;
    // After it returns, the sink is called no more.
    virtual void Stop() = 0;
};

// This system's capture.
std::unique_ptr<ISoundCapture> CreateSoundCapture();
