#include "sound/fake/FakeSound.h"

#include <mutex>

namespace
{
struct FakeState
{
    std::mutex mutex;
    std::string captureRefusal;
    ISoundCaptureSink* sink = nullptr;
    std::uint32_t pid = 0;
    std::uint32_t channels = 2;
    std::string outputRefusal;
    double latency = 0;
    ISoundSource* source = nullptr;
    std::uint32_t outputChannels = 2;
};

FakeState& State()
{
    static FakeState state;
    return state;
}

class CFakeCapture : public ISoundCapture
{
public:
    ~CFakeCapture() override { Stop(); }
    bool Start(std::uint32_t pid, std::uint32_t, std::uint32_t channels, ISoundCaptureSink& sink,
               std::string& why) override
    {
        FakeState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.captureRefusal.empty())
        {
            why = state.captureRefusal;
            return false;
        }
        state.sink = &sink;
        state.pid = pid;
        state.channels = channels;
        m_bStarted = true;
        return true;
    }
    void Stop() override
    {
        if (!m_bStarted)
            return;
        FakeState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.sink = nullptr;
        m_bStarted = false;
    }

private:
    bool m_bStarted = false;
};

class CFakeOutput : public ISoundOutput
{
public:
    ~CFakeOutput() override { Close(); }
    bool Open(std::uint32_t, std::uint32_t channels, ISoundSource& source,
              std::string& why) override
    {
        FakeState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.outputRefusal.empty())
        {
            why = state.outputRefusal;
            return false;
        }
        state.source = &source;
        state.outputChannels = channels;
        m_bOpen = true;
        return true;
    }
    void Close() override
    {
        if (!m_bOpen)
            return;
        FakeState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.source = nullptr;
        m_bOpen = false;
    }
    double Latency() const override { return State().latency; }

private:
    bool m_bOpen = false;
};
} // namespace

std::unique_ptr<ISoundCapture> CreateSoundCapture()
{
    return std::make_unique<CFakeCapture>();
}

std::unique_ptr<ISoundOutput> CreateSoundOutput()
{
    return std::make_unique<CFakeOutput>();
}

namespace fakesound
{
void SetCaptureRefusal(const std::string& why)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    State().captureRefusal = why;
}

bool CaptureRunning()
{
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().sink != nullptr;
}

std::uint32_t CapturePid()
{
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().pid;
}

void Deliver(const std::vector<std::int16_t>& samples, SoundClock::time_point heardAt)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    if (State().sink != nullptr)
        State().sink->OnSound(samples.data(), samples.size() / State().channels, heardAt);
}

void StreamChanged(bool attached)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    if (State().sink != nullptr)
        State().sink->OnStreamChanged(attached);
}

void SetOutputRefusal(const std::string& why)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    State().outputRefusal = why;
}

void SetOutputLatency(double seconds)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    State().latency = seconds;
}

bool OutputOpen()
{
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().source != nullptr;
}

std::vector<std::int16_t> Pull(std::size_t frames)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    std::vector<std::int16_t> out(frames * State().outputChannels);
    if (State().source != nullptr)
        State().source->Fill(out.data(), frames);
    return out;
}
} // namespace fakesound
