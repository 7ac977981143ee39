// Playback through libpulse (PulseAudio, or PipeWire's pulse server): one
// stream on the default sink that pulls its samples from the source in the
// write callback, on the threaded main loop's thread. The target latency is
// kept small (kTargetUs), since the player moves the sound back into step
// with the picture whenever they part by more than 40 ms and a deep buffer
// would make each such move late by its depth.
#include "sound/SoundOutput.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <vector>

namespace
{
constexpr pa_usec_t kTargetUs = 50000;
constexpr pa_usec_t kRequestUs = 10000;

class CPulseOutput : public ISoundOutput
{
public:
    CPulseOutput() = default;
    ~CPulseOutput() override { Close(); }
    CPulseOutput(const CPulseOutput&) = delete;
    CPulseOutput& operator=(const CPulseOutput&) = delete;

    bool Open(std::uint32_t rate, std::uint32_t channels, ISoundSource& source,
              std::string& why) override;
    void Close() override;
    double Latency() const override { return m_latency.load(); }

private:
    bool Connect(std::string& why);
    void OnWrite(std::size_t bytes);
    void NoteLatency();

    static void ContextState(pa_context* context, void* self);
    static void StreamState(pa_stream* stream, void* self);
    static void StreamWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void LatencyUpdate(pa_stream* stream, void* self);

    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    pa_stream* m_pStream = nullptr;
    ISoundSource* m_pSource = nullptr;
    std::uint32_t m_nChannels = 0;
    std::atomic<double> m_latency{0};
};

bool CPulseOutput::Open(std::uint32_t rate, std::uint32_t channels, ISoundSource& source,
                        std::string& why)
{
    Close();
    m_pSource = &source;
    m_nChannels = channels;
    m_pLoop = pa_threaded_mainloop_new();
    if (m_pLoop == nullptr || pa_threaded_mainloop_start(m_pLoop) < 0)
    {
        why = "the sound system's main loop could not start";
        Close();
        return false;
    }
    pa_threaded_mainloop_lock(m_pLoop);
    bool ready = Connect(why);
    if (ready)
    {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, rate,
                                          static_cast<std::uint8_t>(channels)};
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "video");
        m_pStream = pa_stream_new_with_proplist(m_pContext, "TrellonHD", &sampleFormat, nullptr,
                                                properties);
        pa_proplist_free(properties);
        pa_buffer_attr attr;
        std::memset(&attr, 0xFF, sizeof attr);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetUs, &sampleFormat));
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestUs, &sampleFormat));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        ready = m_pStream != nullptr;
        if (ready)
        {
            pa_stream_set_state_callback(m_pStream, &CPulseOutput::StreamState, this);
            pa_stream_set_write_callback(m_pStream, &CPulseOutput::StreamWrite, this);
            pa_stream_set_latency_update_callback(m_pStream, &CPulseOutput::LatencyUpdate, this);
            ready =
                pa_stream_connect_playback(m_pStream, nullptr, &attr, flags, nullptr, nullptr) == 0;
        }
        while (ready && pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream)))
                ready = false;
            else
                pa_threaded_mainloop_wait(m_pLoop);
        }
        if (!ready)
            why = std::string("the sound server refused the playback stream: ") +
                  pa_strerror(pa_context_errno(m_pContext));
    }
    pa_threaded_mainloop_unlock(m_pLoop);
    if (!ready)
        Close();
    return ready;
}

bool CPulseOutput::Connect(std::string& why)
{
    m_pContext = pa_context_new(pa_threaded_mainloop_get_api(m_pLoop), "TrellonHD");
    if (m_pContext != nullptr)
    {
        pa_context_set_state_callback(m_pContext, &CPulseOutput::ContextState, this);
        if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0)
        {
            while (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_pContext)) &&
                   pa_context_get_state(m_pContext) != PA_CONTEXT_READY)
                pa_threaded_mainloop_wait(m_pLoop);
            if (pa_context_get_state(m_pContext) == PA_CONTEXT_READY)
                return true;
        }
    }
    why = "no sound server answers (PulseAudio or PipeWire)";
    return false;
}

void CPulseOutput::Close()
{
    if (m_pLoop == nullptr)
        return;
    pa_threaded_mainloop_lock(m_pLoop);
    if (m_pStream != nullptr)
    {
        pa_stream_set_write_callback(m_pStream, nullptr, nullptr);
        pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(m_pStream, nullptr, nullptr);
        pa_stream_disconnect(m_pStream);
        pa_stream_unref(m_pStream);
        m_pStream = nullptr;
    }
    if (m_pContext != nullptr)
    {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        pa_context_disconnect(m_pContext);
        pa_context_unref(m_pContext);
        m_pContext = nullptr;
    }
    pa_threaded_mainloop_unlock(m_pLoop);
    // Joins the loop's thread: Fill is not called after this.
    pa_threaded_mainloop_stop(m_pLoop);
    pa_threaded_mainloop_free(m_pLoop);
    m_pLoop = nullptr;
    m_pSource = nullptr;
}

void CPulseOutput::OnWrite(std::size_t bytes)
{
    const std::size_t frameBytes = sizeof(std::int16_t) * m_nChannels;
    while (bytes >= frameBytes)
    {
        void* data = nullptr;
        std::size_t room = bytes;
        if (pa_stream_begin_write(m_pStream, &data, &room) < 0 || data == nullptr)
            return;
        const std::size_t frames = std::min(room, bytes) / frameBytes;
        if (frames == 0)
        {
            pa_stream_cancel_write(m_pStream);
            return;
        }
        // What the stream holds now is what lies ahead of these samples.
        NoteLatency();
        m_pSource->Fill(static_cast<std::int16_t*>(data), frames);
        if (pa_stream_write(m_pStream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= frames * frameBytes;
    }
}

void CPulseOutput::NoteLatency()
{
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_pStream, &latency, &negative) == 0)
        m_latency = negative ? 0.0 : static_cast<double>(latency) / 1e6;
}

void CPulseOutput::ContextState(pa_context*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<CPulseOutput*>(self)->m_pLoop, 0);
}

void CPulseOutput::StreamState(pa_stream*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<CPulseOutput*>(self)->m_pLoop, 0);
}

void CPulseOutput::StreamWrite(pa_stream*, std::size_t bytes, void* self)
{
    static_cast<CPulseOutput*>(self)->OnWrite(bytes);
}

void CPulseOutput::LatencyUpdate(pa_stream*, void* self)
{
    static_cast<CPulseOutput*>(self)->NoteLatency();
}
} // namespace

std::unique_ptr<ISoundOutput> CreateSoundOutput()
{
    return std::make_unique<CPulseOutput>();
}
