// The demo game's sound on Linux: a libpulse playback stream on the default
// sink that the main loop's thread keeps filled with the beep track. What is
// heard now comes from the stream's own clock (pa_stream_get_time,
// interpolated between the server's timing updates), which is what a
// capture of the game's stream times its samples by as well.
#include "tools/gamesim/SimSound.h"

#include <algorithm>
#include <cstring>
#include <pulse/pulseaudio.h>

namespace
{
constexpr pa_usec_t kTargetUs = 50000;
} // namespace

struct CSimSound::State
{
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    double pitch = 1000;
    std::uint64_t written = 0; // sample frames handed to the stream

    ~State()
    {
        if (loop == nullptr)
            return;
        pa_threaded_mainloop_lock(loop);
        if (stream != nullptr)
        {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context != nullptr)
        {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    static void Signal(void* self)
    {
        pa_threaded_mainloop_signal(static_cast<State*>(self)->loop, 0);
    }

    static void Write(pa_stream* stream, std::size_t bytes, void* self)
    {
        auto* state = static_cast<State*>(self);
        const std::size_t frameBytes = sizeof(std::int16_t) * kSimSoundChannels;
        void* data = nullptr;
        std::size_t room = bytes;
        if (pa_stream_begin_write(stream, &data, &room) < 0 || data == nullptr)
            return;
        const std::size_t frames = std::min(room, bytes) / frameBytes;
        SimSoundSamples(state->pitch, state->written, frames, static_cast<std::int16_t*>(data));
        state->written += frames;
        pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
    }
};

CSimSound::CSimSound() = default;
CSimSound::~CSimSound() = default;

bool CSimSound::Open(double pitch, std::string& error)
{
    m_pState = std::make_unique<State>();
    State& s = *m_pState;
    s.pitch = pitch;
    s.loop = pa_threaded_mainloop_new();
    if (s.loop == nullptr || pa_threaded_mainloop_start(s.loop) < 0)
    {
        error = "the sound system's main loop could not start";
        m_pState.reset();
        return false;
    }
    pa_threaded_mainloop_lock(s.loop);
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "gamesim");
    bool good = s.context != nullptr;
    if (good)
    {
        pa_context_set_state_callback(
            s.context, [](pa_context*, void* self) { State::Signal(self); }, &s);
        good = pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0;
    }
    while (good && pa_context_get_state(s.context) != PA_CONTEXT_READY)
    {
        good = PA_CONTEXT_IS_GOOD(pa_context_get_state(s.context));
        if (good)
            pa_threaded_mainloop_wait(s.loop);
    }
    if (!good)
        error = "no sound server answers (PulseAudio or PipeWire)";
    if (good)
    {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kSimSoundRate, kSimSoundChannels};
        s.stream = pa_stream_new(s.context, "gamesim beeps", &sampleFormat, nullptr);
        good = s.stream != nullptr;
        if (good)
        {
            pa_stream_set_state_callback(
                s.stream, [](pa_stream*, void* self) { State::Signal(self); }, &s);
            pa_stream_set_write_callback(s.stream, &State::Write, &s);
            pa_buffer_attr attr;
            std::memset(&attr, 0xFF, sizeof attr);
            attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetUs, &sampleFormat));
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                              PA_STREAM_INTERPOLATE_TIMING |
                                                              PA_STREAM_AUTO_TIMING_UPDATE);
            good =
                pa_stream_connect_playback(s.stream, nullptr, &attr, flags, nullptr, nullptr) == 0;
        }
        while (good && pa_stream_get_state(s.stream) != PA_STREAM_READY)
        {
            good = PA_STREAM_IS_GOOD(pa_stream_get_state(s.stream));
            if (good)
                pa_threaded_mainloop_wait(s.loop);
        }
        if (!good)
            error = std::string("the sound server refused the stream: ") +
                    pa_strerror(pa_context_errno(s.context));
    }
    pa_threaded_mainloop_unlock(s.loop);
    if (!good)
        m_pState.reset();
    return good;
}

std::int64_t CSimSound::HeardSample()
{
    if (!m_pState)
        return -1;
    State& s = *m_pState;
    pa_threaded_mainloop_lock(s.loop);
    pa_usec_t time = 0;
    const bool known = pa_stream_get_time(s.stream, &time) == 0;
    pa_threaded_mainloop_unlock(s.loop);
    if (!known)
        return -1;
    return static_cast<std::int64_t>(time * kSimSoundRate / 1000000);
}
