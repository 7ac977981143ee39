#include "TonePlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <pulse/pulseaudio.h>

namespace
{
void Signal(void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}
} // namespace

bool CTonePlayer::Open(std::string& why)
{
    Close();
    m_nWritten = 0;
    m_pLoop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(m_pLoop);
    pa_threaded_mainloop_lock(m_pLoop);
    m_pContext = pa_context_new(pa_threaded_mainloop_get_api(m_pLoop), "trellon test player");
    pa_context_set_state_callback(
        m_pContext, [](pa_context*, void* loop) { Signal(loop); }, m_pLoop);
    bool good = pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0;
    while (good && pa_context_get_state(m_pContext) != PA_CONTEXT_READY)
    {
        good = PA_CONTEXT_IS_GOOD(pa_context_get_state(m_pContext));
        if (good)
            pa_threaded_mainloop_wait(m_pLoop);
    }
    if (good)
    {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kRate, kChannels};
        m_pStream = pa_stream_new(m_pContext, "trellon test tone", &sampleFormat, nullptr);
        pa_stream_set_state_callback(
            m_pStream, [](pa_stream*, void* loop) { Signal(loop); }, m_pLoop);
        pa_stream_set_write_callback(m_pStream, &CTonePlayer::Write, this);
        pa_buffer_attr attr;
        std::memset(&attr, 0xFF, sizeof attr);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(50000, &sampleFormat));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        good = pa_stream_connect_playback(m_pStream, nullptr, &attr, flags, nullptr, nullptr) == 0;
        while (good && pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        {
            good = PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream));
            if (good)
                pa_threaded_mainloop_wait(m_pLoop);
        }
    }
    if (!good)
        why = std::string("the test player has no stream: ") +
              pa_strerror(pa_context_errno(m_pContext));
    pa_threaded_mainloop_unlock(m_pLoop);
    if (!good)
        Close();
    return good;
}

void CTonePlayer::Close()
{
    if (m_pLoop == nullptr)
        return;
    pa_threaded_mainloop_lock(m_pLoop);
    if (m_pStream != nullptr)
    {
        pa_stream_set_write_callback(m_pStream, nullptr, nullptr);
        pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
        pa_stream_disconnect(m_pStream);
        pa_stream_unref(m_pStream);
        m_pStream = nullptr;
    }
    pa_context_set_state_callback(m_pContext, nullptr, nullptr);
    pa_context_disconnect(m_pContext);
    pa_context_unref(m_pContext);
    m_pContext = nullptr;
    pa_threaded_mainloop_unlock(m_pLoop);
    pa_threaded_mainloop_stop(m_pLoop);
    pa_threaded_mainloop_free(m_pLoop);
    m_pLoop = nullptr;
}

std::int64_t CTonePlayer::HeardSample()
{
    if (m_pStream == nullptr)
        return -1;
    pa_threaded_mainloop_lock(m_pLoop);
    pa_usec_t time = 0;
    const bool known = pa_stream_get_time(m_pStream, &time) == 0;
    pa_threaded_mainloop_unlock(m_pLoop);
    return known ? static_cast<std::int64_t>(time * kRate / 1000000) : -1;
}

std::uint32_t CTonePlayer::SinkInputIndex()
{
    if (m_pStream == nullptr)
        return PA_INVALID_INDEX;
    pa_threaded_mainloop_lock(m_pLoop);
    const std::uint32_t index = pa_stream_get_index(m_pStream);
    pa_threaded_mainloop_unlock(m_pLoop);
    return index;
}

void CTonePlayer::Write(pa_stream* stream, std::size_t bytes, void* self)
{
    auto* player = static_cast<CTonePlayer*>(self);
    void* data = nullptr;
    std::size_t room = bytes;
    if (pa_stream_begin_write(stream, &data, &room) < 0 || data == nullptr)
        return;
    const std::size_t frames = std::min(room, bytes) / (sizeof(std::int16_t) * kChannels);
    player->m_generator(player->m_nWritten, frames, static_cast<std::int16_t*>(data));
    player->m_nWritten += frames;
    pa_stream_write(stream, data, frames * sizeof(std::int16_t) * kChannels, nullptr, 0,
                    PA_SEEK_RELATIVE);
}

CTonePlayer::Generator Tone(double pitch, double level)
{
    return [pitch, level](std::uint64_t first, std::size_t frames, std::int16_t* out)
    {
        for (std::size_t i = 0; i < frames; ++i)
        {
            const double t = static_cast<double>(first + i) / CTonePlayer::kRate;
            const auto v = static_cast<std::int16_t>(
                std::lround(level * 32767 * std::sin(2 * std::numbers::pi * pitch * t)));
            out[2 * i] = out[2 * i + 1] = v;
        }
    };
}

CTonePlayer::Generator Beeps(double pitch, std::uint64_t beepFrames, std::uint64_t everyFrames)
{
    return [=](std::uint64_t first, std::size_t frames, std::int16_t* out)
    {
        for (std::size_t i = 0; i < frames; ++i)
        {
            const std::uint64_t at = (first + i) % everyFrames;
            const double t = static_cast<double>(at) / CTonePlayer::kRate;
            const auto v = at < beepFrames
                               ? static_cast<std::int16_t>(std::lround(
                                     0.5 * 32767 * std::sin(2 * std::numbers::pi * pitch * t)))
                               : std::int16_t{0};
            out[2 * i] = out[2 * i + 1] = v;
        }
    };
}
