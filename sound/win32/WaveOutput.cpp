#include "private/PcmFormat.h"
#include "sound/SoundOutput.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

// Playback through the waveOut device: the oldest of Windows' sound APIs,
// there from Windows 95 to Wine, and enough for a stream that only has to
// keep going. A few short buffers are queued on the device; it signals an
// event as each one is done, and the output's thread refills the done ones
// from the source and queues them again. What is queued ahead of the
// buffer being filled is the latency, which the thread works out from the
// device's position just before each Fill, so that Latency (called from
// Fill) needs no call into the device.
namespace
{
constexpr std::size_t kBufferCount = 8;
constexpr std::uint32_t kBuffersPerSecond = 50; // 20 ms each

std::string WaveOutText(const char* what, MMRESULT result)
{
    char text[MAXERRORLENGTH] = {};
    waveOutGetErrorTextA(result, text, sizeof text);
    return std::string("the sound output can't be opened (") + what + ": " + text + ")";
}

class CWaveOutput : public ISoundOutput
{
public:
    CWaveOutput() = default;
    ~CWaveOutput() override { Close(); }
    CWaveOutput(const CWaveOutput&) = delete;
    CWaveOutput& operator=(const CWaveOutput&) = delete;

    bool Open(std::uint32_t rate, std::uint32_t channels, ISoundSource& source,
              std::string& why) override
    {
        Close();
        m_hDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (m_hDone == nullptr)
        {
            why = "the sound output can't be opened (CreateEvent failed)";
            return false;
        }
        WAVEFORMATEX format = Pcm16Format(rate, channels);
        const MMRESULT opened =
            waveOutOpen(&m_hWave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(m_hDone), 0,
                        CALLBACK_EVENT);
        if (opened != MMSYSERR_NOERROR)
        {
            why = WaveOutText("waveOutOpen", opened);
            m_hWave = nullptr;
            CloseHandle(m_hDone);
            m_hDone = nullptr;
            return false;
        }
        m_nRate = rate;
        m_nBufferFrames = std::max<std::uint32_t>(rate / kBuffersPerSecond, 1);
        for (Buffer& buffer : m_buffers)
        {
            buffer.samples.assign(static_cast<std::size_t>(m_nBufferFrames) * channels, 0);
            buffer.header = WAVEHDR{};
            buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.samples.data());
            buffer.header.dwBufferLength = static_cast<DWORD>(buffer.samples.size() * 2);
            const MMRESULT prepared =
                waveOutPrepareHeader(m_hWave, &buffer.header, sizeof(WAVEHDR));
            if (prepared != MMSYSERR_NOERROR)
            {
                why = WaveOutText("waveOutPrepareHeader", prepared);
                Release();
                return false;
            }
            buffer.prepared = true;
            // Done until first filled: the thread takes it as free.
            buffer.header.dwFlags |= WHDR_DONE;
        }
        m_nWritten = 0;
        m_latency = static_cast<double>(kBufferCount * m_nBufferFrames) / rate;
        m_bStop = false;
        m_pSource = &source;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    void Close() override
    {
        if (m_thread.joinable())
        {
            m_bStop = true;
            SetEvent(m_hDone);
            m_thread.join();
        }
        m_pSource = nullptr;
        Release();
    }

    double Latency() const override { return m_latency; }

private:
    struct Buffer
    {
        std::vector<std::int16_t> samples;
        WAVEHDR header{};
        bool prepared = false;
    };

    void Run()
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        while (!m_bStop)
        {
            for (Buffer& buffer : m_buffers)
            {
                if (m_bStop)
                    break;
                if ((buffer.header.dwFlags & WHDR_DONE) == 0)
                    continue;
                m_latency = QueuedSeconds();
                m_pSource->Fill(buffer.samples.data(), m_nBufferFrames);
                buffer.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
                if (waveOutWrite(m_hWave, &buffer.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
                {
                    // The device went away: keep the thread's pace without
                    // it, so that the source is still pulled until Close.
                    buffer.header.dwFlags |= WHDR_DONE;
                    Sleep(1000 / kBuffersPerSecond);
                    continue;
                }
                m_nWritten += m_nBufferFrames;
            }
            WaitForSingleObject(m_hDone, 1000 / kBuffersPerSecond * 2);
        }
    }

    // Seconds of sound written to the device and not yet played.
    double QueuedSeconds() const
    {
        MMTIME position{};
        position.wType = TIME_SAMPLES;
        if (waveOutGetPosition(m_hWave, &position, sizeof position) == MMSYSERR_NOERROR &&
            position.wType == TIME_SAMPLES)
        {
            // The device counts in 32 bits; the difference holds across
            // its wrap-around.
            const auto queued = static_cast<std::uint32_t>(m_nWritten) -
                                static_cast<std::uint32_t>(position.u.sample);
            if (queued <= kBufferCount * m_nBufferFrames)
                return static_cast<double>(queued) / m_nRate;
        }
        std::size_t queuedBuffers = 0;
        for (const Buffer& buffer : m_buffers)
            if ((buffer.header.dwFlags & WHDR_DONE) == 0)
                ++queuedBuffers;
        return static_cast<double>(queuedBuffers * m_nBufferFrames) / m_nRate;
    }

    void Release()
    {
        if (m_hWave != nullptr)
        {
            waveOutReset(m_hWave);
            for (Buffer& buffer : m_buffers)
                if (buffer.prepared)
                    waveOutUnprepareHeader(m_hWave, &buffer.header, sizeof(WAVEHDR));
            waveOutClose(m_hWave);
        }
        for (Buffer& buffer : m_buffers)
            buffer.prepared = false;
        m_hWave = nullptr;
        if (m_hDone != nullptr)
            CloseHandle(m_hDone);
        m_hDone = nullptr;
    }

    HWAVEOUT m_hWave = nullptr;
    HANDLE m_hDone = nullptr;
    std::array<Buffer, kBufferCount> m_buffers;
    std::uint32_t m_nRate = 0;
    std::uint32_t m_nBufferFrames = 0;
    std::uint64_t m_nWritten = 0; // sample frames written, the thread's own
    std::atomic<double> m_latency{0};
    std::atomic<bool> m_bStop{false};
    ISoundSource* m_pSource = nullptr;
    std::thread m_thread;
};
} // namespace

std::unique_ptr<ISoundOutput> CreateSoundOutput()
{
    return std::make_unique<CWaveOutput>();
}
