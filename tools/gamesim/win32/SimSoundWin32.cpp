#include "tools/gamesim/SimSound.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <array>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// The demo game's beeps through waveOut: a few buffers of 20 ms queued on
// the device, refilled with the next samples of the track as the device
// hands each one back (by event). What is being heard is the device's own
// position, which counts the samples played since the stream opened; that
// is a 32-bit count, widened here so that HeardSample holds past its wrap.
namespace
{
constexpr std::size_t kBufferCount = 4;
constexpr std::uint32_t kBufferFrames = kSimSoundRate / 50;
} // namespace

struct CSimSound::State
{
    HWAVEOUT wave = nullptr;
    HANDLE done = nullptr;
    double pitch = 0;
    struct Buffer
    {
        std::vector<std::int16_t> samples;
        WAVEHDR header{};
    };
    std::array<Buffer, kBufferCount> buffers;
    std::uint64_t next = 0; // the thread's own: the next sample frame to write
    std::atomic<bool> stop{false};
    std::thread thread;
    std::mutex positionMutex; // guards the two below
    std::uint32_t lastPosition = 0;
    std::uint64_t wraps = 0;

    void Run()
    {
        while (!stop)
        {
            for (Buffer& buffer : buffers)
            {
                if ((buffer.header.dwFlags & WHDR_DONE) == 0)
                    continue;
                SimSoundSamples(pitch, next, kBufferFrames, buffer.samples.data());
                next += kBufferFrames;
                buffer.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
                waveOutWrite(wave, &buffer.header, sizeof(WAVEHDR));
            }
            WaitForSingleObject(done, 100);
        }
    }
};

CSimSound::CSimSound() : m_pState(std::make_unique<State>()) {}

CSimSound::~CSimSound()
{
    State& state = *m_pState;
    if (state.thread.joinable())
    {
        state.stop = true;
        SetEvent(state.done);
        state.thread.join();
    }
    if (state.wave != nullptr)
    {
        waveOutReset(state.wave);
        for (State::Buffer& buffer : state.buffers)
            waveOutUnprepareHeader(state.wave, &buffer.header, sizeof(WAVEHDR));
        waveOutClose(state.wave);
    }
    if (state.done != nullptr)
        CloseHandle(state.done);
}

bool CSimSound::Open(double pitch, std::string& error)
{
    State& state = *m_pState;
    state.pitch = pitch;
    state.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kSimSoundChannels;
    format.nSamplesPerSec = kSimSoundRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = kSimSoundChannels * 2;
    format.nAvgBytesPerSec = kSimSoundRate * format.nBlockAlign;
    const MMRESULT opened =
        state.done == nullptr
            ? MMSYSERR_NOMEM
            : waveOutOpen(&state.wave, WAVE_MAPPER, &format,
                          reinterpret_cast<DWORD_PTR>(state.done), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR)
    {
        char text[MAXERRORLENGTH] = {};
        waveOutGetErrorTextA(opened, text, sizeof text);
        error = std::string("no sound output (waveOutOpen: ") + text + ")";
        state.wave = nullptr;
        return false;
    }
    for (State::Buffer& buffer : state.buffers)
    {
        buffer.samples.assign(static_cast<std::size_t>(kBufferFrames) * kSimSoundChannels, 0);
        buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.samples.data());
        buffer.header.dwBufferLength = static_cast<DWORD>(buffer.samples.size() * 2);
        waveOutPrepareHeader(state.wave, &buffer.header, sizeof(WAVEHDR));
        buffer.header.dwFlags |= WHDR_DONE; // free, for the thread's first round
    }
    state.thread = std::thread([&state] { state.Run(); });
    return true;
}

std::int64_t CSimSound::HeardSample()
{
    State& state = *m_pState;
    if (state.wave == nullptr)
        return -1;
    MMTIME position{};
    position.wType = TIME_SAMPLES;
    if (waveOutGetPosition(state.wave, &position, sizeof position) != MMSYSERR_NOERROR ||
        position.wType != TIME_SAMPLES)
        return -1;
    std::lock_guard<std::mutex> lock(state.positionMutex);
    if (position.u.sample < state.lastPosition)
        ++state.wraps;
    state.lastPosition = position.u.sample;
    return static_cast<std::int64_t>((state.wraps << 32) | position.u.sample);
}
