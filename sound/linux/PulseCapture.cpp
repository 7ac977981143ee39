// The capture of one program's sound through libpulse, which speaks to
// PulseAudio and to PipeWire's pulse server alike. Under Wine the game plays
// through the desktop's server, and its playback stream (a sink input)
// carries the Linux pid of the game in `application.process.id`; the
// stream's name follows the executable's, so the pid is what we match.
//
// Everything runs on the threaded main loop's thread: a context that
// subscribes to the sink inputs, and for the game's stream a record stream
// on the monitor of the stream's sink, limited to that one sink input
// (pa_stream_set_monitor_stream), so that no other program's sound is in
// it. The flow is driven by what the server says: a sink input appears or
// changes -> is it the game's -> its sink's monitor -> the record stream.
// When the record stream ends (the game's stream ended, or moved to another
// sink: PulseAudio ends a recording of one sink input then, where PipeWire
// lets it follow the stream), the sink is told and the sink inputs are
// looked through again; a timer once a second looks again as well, and
// connects again when the server went away.
#include "sound/SoundCapture.h"

#include <algorithm>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <string>

namespace
{
constexpr pa_usec_t kRetryUs = 1000000;
constexpr pa_usec_t kFragmentUs = 10000;
constexpr std::chrono::milliseconds kJump{40};
constexpr std::uint32_t kNoInput = PA_INVALID_INDEX;

class CPulseCapture : public ISoundCapture
{
public:
    CPulseCapture() = default;
    ~CPulseCapture() override { Stop(); }
    CPulseCapture(const CPulseCapture&) = delete;
    CPulseCapture& operator=(const CPulseCapture&) = delete;

    bool Start(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels,
               ISoundCaptureSink& sink, std::string& why) override;
    void Stop() override;

private:
    // All below run on the main loop's thread (or under its lock).
    bool Connect();
    void DropContext();
    void DropStream();
    void LookForStream();
    void Consider(const pa_sink_input_info& input);
    void OpenStream(const pa_sink_info& sink);
    void OnRead(std::size_t bytes);
    bool Latency(std::int64_t& latencyUs) const;
    SoundClock::time_point Smoothed(SoundClock::time_point measured) const;
    void OnStreamState();
    void OnContextState();
    void OnTimer();

    static void ContextState(pa_context* context, void* self);
    static void Subscription(pa_context* context, pa_subscription_event_type_t type,
                             std::uint32_t index, void* self);
    static void SinkInputInfo(pa_context* context, const pa_sink_input_info* info, int eol,
                              void* self);
    static void SinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void StreamRead(pa_stream* stream, std::size_t bytes, void* self);
    static void StreamState(pa_stream* stream, void* self);
    static void Timer(pa_mainloop_api* api, pa_time_event* event, const timeval* tv, void* self);

    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    pa_stream* m_pStream = nullptr;
    pa_time_event* m_pTimer = nullptr;
    ISoundCaptureSink* m_pSink = nullptr;
    std::uint32_t m_nPid = 0;
    std::uint32_t m_nRate = 0;
    std::uint32_t m_nChannels = 0;
    // The sink input followed (found, being attached or recorded) and the
    // sink it plays on; kNoInput while none is.
    std::uint32_t m_nInput = kNoInput;
    std::uint32_t m_nInputSink = kNoInput;
    bool m_bAnnounced = false; // OnStreamChanged(true) was said for m_pStream
    // Where the samples read so far reach, for a piece that comes before the
    // stream has any timing.
    bool m_bTimed = false;
    SoundClock::time_point m_nextAt{};
};

// The main loop's time events run by the wall clock.
const timeval* InOneSecond()
{
    static thread_local timeval tv;
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, kRetryUs);
    return &tv;
}

std::string ProcessIdOf(const pa_proplist* properties)
{
    const char* value = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    return value != nullptr ? value : "";
}

bool CPulseCapture::Start(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels,
                          ISoundCaptureSink& sink, std::string& why)
{
    Stop();
    m_pSink = &sink;
    m_nPid = pid;
    m_nRate = rate;
    m_nChannels = channels;
    m_pLoop = pa_threaded_mainloop_new();
    if (m_pLoop == nullptr || pa_threaded_mainloop_start(m_pLoop) < 0)
    {
        why = "the sound system's main loop could not start";
        Stop();
        return false;
    }
    // A server that does not answer now is taken as none: the desktop's sound
    // server runs from the session's start, so a recording that begins
    // without one would most likely never hear the game. The user is told at
    // once rather than recording in silence. A server that answers but goes
    // away later is waited for (OnTimer), as the game's stream is.
    pa_threaded_mainloop_lock(m_pLoop);
    bool connected = Connect();
    while (connected)
    {
        const pa_context_state_t state = pa_context_get_state(m_pContext);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state))
            connected = false;
        else
            pa_threaded_mainloop_wait(m_pLoop);
    }
    if (connected)
    {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_pLoop);
        m_pTimer = api->time_new(api, InOneSecond(), &CPulseCapture::Timer, this);
    }
    pa_threaded_mainloop_unlock(m_pLoop);
    if (!connected)
    {
        why = "no sound server answers (PulseAudio or PipeWire)";
        Stop();
        return false;
    }
    return true;
}

void CPulseCapture::Stop()
{
    if (m_pLoop == nullptr)
        return;
    pa_threaded_mainloop_lock(m_pLoop);
    if (m_pTimer != nullptr)
        pa_threaded_mainloop_get_api(m_pLoop)->time_free(m_pTimer);
    m_pTimer = nullptr;
    // Not announced: the capture ends, the stream did not go away.
    m_bAnnounced = false;
    DropStream();
    DropContext();
    pa_threaded_mainloop_unlock(m_pLoop);
    // Joins the loop's thread: no callback runs after this.
    pa_threaded_mainloop_stop(m_pLoop);
    pa_threaded_mainloop_free(m_pLoop);
    m_pLoop = nullptr;
    m_pSink = nullptr;
}

bool CPulseCapture::Connect()
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "TrellonHD");
    m_pContext = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_pLoop), "TrellonHD",
                                              properties);
    pa_proplist_free(properties);
    if (m_pContext == nullptr)
        return false;
    pa_context_set_state_callback(m_pContext, &CPulseCapture::ContextState, this);
    pa_context_set_subscribe_callback(m_pContext, &CPulseCapture::Subscription, this);
    if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    {
        DropContext();
        return false;
    }
    return true;
}

void CPulseCapture::DropContext()
{
    if (m_pContext == nullptr)
        return;
    pa_context_set_state_callback(m_pContext, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_pContext, nullptr, nullptr);
    pa_context_disconnect(m_pContext);
    pa_context_unref(m_pContext);
    m_pContext = nullptr;
}

void CPulseCapture::DropStream()
{
    if (m_pStream != nullptr)
    {
        pa_stream_set_read_callback(m_pStream, nullptr, nullptr);
        pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
        pa_stream_disconnect(m_pStream);
        pa_stream_unref(m_pStream);
        m_pStream = nullptr;
    }
    if (m_bAnnounced)
        m_pSink->OnStreamChanged(false);
    m_bAnnounced = false;
    m_nInput = kNoInput;
    m_nInputSink = kNoInput;
    m_bTimed = false;
}

void CPulseCapture::LookForStream()
{
    if (m_nInput != kNoInput || m_pContext == nullptr ||
        pa_context_get_state(m_pContext) != PA_CONTEXT_READY)
        return;
    if (pa_operation* op =
            pa_context_get_sink_input_info_list(m_pContext, &CPulseCapture::SinkInputInfo, this))
        pa_operation_unref(op);
}

// Where the game has several streams at once, the first one found is
// recorded: a game plays its mix through one stream, and a second one is
// most likely the short overlap of an old stream ending and a new one
// starting; mixing both would double that overlap. When the recorded one
// ends, the other is found at once.
void CPulseCapture::Consider(const pa_sink_input_info& input)
{
    if (ProcessIdOf(input.proplist) != std::to_string(m_nPid))
        return;
    if (m_nInput == input.index)
    {
        // Moved to another sink: the monitor recorded is the old sink's.
        if (input.sink != m_nInputSink)
            DropStream();
        else
            return;
    }
    if (m_nInput != kNoInput)
        return;
    m_nInput = input.index;
    m_nInputSink = input.sink;
    if (pa_operation* op = pa_context_get_sink_info_by_index(m_pContext, input.sink,
                                                             &CPulseCapture::SinkInfo, this))
        pa_operation_unref(op);
    else
        m_nInput = kNoInput;
}

void CPulseCapture::OpenStream(const pa_sink_info& sink)
{
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, m_nRate,
                                      static_cast<std::uint8_t>(m_nChannels)};
    m_pStream = pa_stream_new(m_pContext, "TrellonHD game sound", &sampleFormat, nullptr);
    if (m_pStream == nullptr || pa_stream_set_monitor_stream(m_pStream, m_nInput) < 0)
    {
        DropStream();
        return;
    }
    pa_stream_set_read_callback(m_pStream, &CPulseCapture::StreamRead, this);
    pa_stream_set_state_callback(m_pStream, &CPulseCapture::StreamState, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUs, &sampleFormat));
    // DONT_MOVE: without it PipeWire links the recording to the whole output
    // when the game's stream ends, and other programs' sound comes in.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(m_pStream, sink.monitor_source_name, &attr, flags) < 0)
        DropStream();
}

void CPulseCapture::OnRead(std::size_t)
{
    const std::size_t frameBytes = sizeof(std::int16_t) * m_nChannels;
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (m_pStream != nullptr && pa_stream_readable_size(m_pStream) > 0 &&
           pa_stream_peek(m_pStream, &data, &bytes) == 0 && bytes > 0)
    {
        // The stream's latency is how long ago its next sample to be read
        // was heard; negative for a monitor when it is still to be heard
        // (the sink's own buffer lies ahead of it). Only durations cross
        // from the server's clocks to the steady one (CLOCK_MONOTONIC, as
        // pa_rtclock is on Linux), so the two never need to agree on a 0.
        const SoundClock::time_point now = SoundClock::now();
        std::int64_t latencyUs = 0;
        SoundClock::time_point heardAt = m_bTimed ? m_nextAt : now;
        if (Latency(latencyUs))
            heardAt = Smoothed(now - std::chrono::microseconds(latencyUs));
        const std::size_t frames = bytes / frameBytes;
        // A hole (no data) is skipped: the placer sees the gap in the times.
        if (data != nullptr && frames > 0)
        {
            if (!m_bAnnounced)
            {
                m_bAnnounced = true;
                m_pSink->OnStreamChanged(true);
            }
            m_pSink->OnSound(static_cast<const std::int16_t*>(data), frames, heardAt);
        }
        m_bTimed = true;
        m_nextAt = heardAt + std::chrono::nanoseconds(frames * 1000000000ull / m_nRate);
        pa_stream_drop(m_pStream);
    }
}

// How long ago (negative: how long ahead) the next sample to be read was
// heard, from the server's last timing report and the wall clock since,
// as libpulse reckons a monitor's time (the sink's buffer lies between the
// monitor and the speakers). libpulse's own interpolation of the same
// (pa_stream_get_latency) starts off by the better part of a second on a
// fresh monitor stream and takes seconds to glide back, as it never moves
// backwards; the report itself is right from the first.
bool CPulseCapture::Latency(std::int64_t& latencyUs) const
{
    const pa_timing_info* info = pa_stream_get_timing_info(m_pStream);
    if (info == nullptr || info->write_index_corrupt || info->read_index_corrupt)
        return false;
    const pa_sample_spec* sampleFormat = pa_stream_get_sample_spec(m_pStream);
    timeval now;
    pa_gettimeofday(&now);
    const auto since = static_cast<std::int64_t>(pa_timeval_diff(&now, &info->timestamp));
    const auto bytes = [sampleFormat](std::int64_t index)
    {
        return static_cast<std::int64_t>(pa_bytes_to_usec(
            static_cast<std::uint64_t>(std::max<std::int64_t>(index, 0)), sampleFormat));
    };
    const std::int64_t heardNow =
        bytes(info->write_index) + static_cast<std::int64_t>(info->transport_usec) +
        static_cast<std::int64_t>(info->source_usec) - static_cast<std::int64_t>(info->sink_usec) +
        (pa_timeval_cmp(&now, &info->timestamp) >= 0 ? since : -since);
    latencyUs = heardNow - bytes(info->read_index);
    return true;
}

// The stream is continuous, so each piece is heard where the last one
// ends; the measured time only pulls that along, by a sixteenth of their
// difference each piece, against the clocks' drift. A measure as far off as
// kJumpUs is a real jump (the server skipped or repeated) and is taken as
// it is. PipeWire's reports jitter by a graph cycle, which a time line
// following each of them would turn into gaps and overlaps in the sound.
SoundClock::time_point CPulseCapture::Smoothed(SoundClock::time_point measured) const
{
    if (!m_bTimed)
        return measured;
    const SoundClock::duration off = measured - m_nextAt;
    if (off > kJump || off < -kJump)
        return measured;
    return m_nextAt + off / 16;
}

void CPulseCapture::OnStreamState()
{
    const pa_stream_state_t state = pa_stream_get_state(m_pStream);
    if (state == PA_STREAM_READY && !m_bAnnounced)
    {
        m_bAnnounced = true;
        m_pSink->OnStreamChanged(true);
    }
    else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
    {
        DropStream();
        LookForStream();
    }
}

void CPulseCapture::OnContextState()
{
    const pa_context_state_t state = pa_context_get_state(m_pContext);
    if (state == PA_CONTEXT_READY)
    {
        if (pa_operation* op =
                pa_context_subscribe(m_pContext, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
            pa_operation_unref(op);
        LookForStream();
    }
    else if (!PA_CONTEXT_IS_GOOD(state) && m_pTimer != nullptr)
    {
        // The server went away; OnTimer connects again.
        DropStream();
        DropContext();
    }
    pa_threaded_mainloop_signal(m_pLoop, 0);
}

void CPulseCapture::OnTimer()
{
    if (m_pContext == nullptr)
        Connect();
    else
        LookForStream();
    pa_threaded_mainloop_get_api(m_pLoop)->time_restart(m_pTimer, InOneSecond());
}

void CPulseCapture::ContextState(pa_context*, void* self)
{
    static_cast<CPulseCapture*>(self)->OnContextState();
}

void CPulseCapture::Subscription(pa_context*, pa_subscription_event_type_t type,
                                 std::uint32_t index, void* self)
{
    auto* capture = static_cast<CPulseCapture*>(self);
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE)
    {
        if (index == capture->m_nInput)
        {
            capture->DropStream();
            capture->LookForStream();
        }
        return;
    }
    if (pa_operation* op = pa_context_get_sink_input_info(capture->m_pContext, index,
                                                          &CPulseCapture::SinkInputInfo, self))
        pa_operation_unref(op);
}

void CPulseCapture::SinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* self)
{
    if (eol == 0 && info != nullptr)
        static_cast<CPulseCapture*>(self)->Consider(*info);
}

void CPulseCapture::SinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    auto* capture = static_cast<CPulseCapture*>(self);
    if (eol < 0 && capture->m_pStream == nullptr)
    {
        // The sink went away before it was asked about; look again.
        capture->DropStream();
        return;
    }
    if (eol != 0)
        return;
    if (info == nullptr || info->index != capture->m_nInputSink || capture->m_pStream != nullptr)
        return;
    capture->OpenStream(*info);
}

void CPulseCapture::StreamRead(pa_stream*, std::size_t bytes, void* self)
{
    static_cast<CPulseCapture*>(self)->OnRead(bytes);
}

void CPulseCapture::StreamState(pa_stream*, void* self)
{
    static_cast<CPulseCapture*>(self)->OnStreamState();
}

void CPulseCapture::Timer(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
{
    static_cast<CPulseCapture*>(self)->OnTimer();
}
} // namespace

std::unique_ptr<ISoundCapture> CreateSoundCapture()
{
    return std::make_unique<CPulseCapture>();
}
