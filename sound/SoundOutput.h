#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The platform seam of playback: a stream to the system's sound output that
// pulls its samples. Backends: sound/linux (libpulse), sound/win32 (the
// waveOut device), sound/fake (for tests: pulls on a thread at the rate).

class ISoundSource
{
public:
    virtual ~ISoundSource() = default;
    // Fills `out` with `frames` sample frames (interleaved 16-bit); called
    // on the output's own thread.
    virtual void Fill(std::int16_t* out, std::size_t frames) = 0;
};

class ISoundOutput
{
public:
    virtual ~ISoundOutput() = default;
    // Opens a stream to the default output and starts pulling from
    // `source`. False, with the reason, when there is no output.
    virtual bool Open(std::uint32_t rate, std::uint32_t channels, ISoundSource& source,
                      std::string& why) = 0;
    // Stops pulling; after it returns, the source is called no more.
    virtual void Close() = 0;
    // Seconds between a sample leaving Fill and being heard, as the system
    // last said.
    virtual double Latency() const = 0;
};

std::unique_ptr<ISoundOutput> CreateSoundOutput();
