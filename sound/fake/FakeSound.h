#pragma once

#include "sound/SoundCapture.h"
#include "sound/SoundOutput.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The fake backend: a test plays the sound system. The capture that
// CreateSoundCapture made last delivers what the test hands it, on the
// test's thread; the output that CreateSoundOutput made last is pulled when
// the test asks.
namespace fakesound
{
// What the next Start answers: empty starts, a text refuses with it.
void SetCaptureRefusal(const std::string& why);
// True while a capture is started; the process it follows.
bool CaptureRunning();
std::uint32_t CapturePid();
// Hands samples to the running capture's sink, as its thread would.
void Deliver(const std::vector<std::int16_t>& samples, SoundClock::time_point heardAt);
void StreamChanged(bool attached);

// What the next Open answers, and the output's latency.
void SetOutputRefusal(const std::string& why);
void SetOutputLatency(double seconds);
bool OutputOpen();
// Pulls `frames` sample frames from the open output's source.
std::vector<std::int16_t> Pull(std::size_t frames);
} // namespace fakesound
