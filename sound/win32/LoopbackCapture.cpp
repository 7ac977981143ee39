#include "private/PcmFormat.h"
#include "sound/SoundCapture.h"

// clang-format off
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <objidl.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

// Records one program's own sound with process loopback: the audio engine
// mixes the streams of the game (and of its child processes) into a
// capture stream of their own, in the format we ask for, and nothing else.
// Process loopback came with Windows 10 build 20348 (Windows Server 2022)
// and Windows 11; an older Windows has ActivateAudioInterfaceAsync (from
// Windows 8 on) but no device behind VAD\Process_Loopback, and Wine 8 has
// none either (the activation ends in "file not found"). Start then says so
// in one sentence and the recording goes on with its picture alone.
//
// The loopback follows the process it was started for, and its children.
// When the game ends and is started again it is another process: the
// stream for the old one simply delivers nothing more (after a second
// without packets the sink hears that the stream went away), and it takes
// a capture started for the new process (the recorder's Retarget) to hear
// the game again.
//
// Everything COM happens on the capture's own thread, in the
// multi-threaded apartment, whatever the caller's thread is: it activates,
// initialises and starts the stream, tells Start how that went, then waits
// for the audio engine's event and hands each packet to the sink until
// Stop sets the stop event.
namespace
{
// audioclientactivationparams.h, which MinGW-w64 lacks; the layout and the
// values are those of the Windows SDK.
enum TrellonActivationType
{
    kActivationTypeDefault = 0,
    kActivationTypeProcessLoopback = 1,
};
enum TrellonLoopbackMode
{
    kLoopbackIncludeTargetProcessTree = 0,
    kLoopbackExcludeTargetProcessTree = 1,
};
struct TrellonLoopbackParams
{
    DWORD TargetProcessId;
    TrellonLoopbackMode ProcessLoopbackMode;
};
struct TrellonActivationParams
{
    TrellonActivationType ActivationType;
    TrellonLoopbackParams ProcessLoopbackParams;
};
constexpr wchar_t kProcessLoopbackDevice[] = L"VAD\\Process_Loopback";

using ActivateFunction = HRESULT(WINAPI*)(LPCWSTR, REFIID, PROPVARIANT*,
                                          IActivateAudioInterfaceCompletionHandler*,
                                          IActivateAudioInterfaceAsyncOperation**);

// The recorder shows it after "The recording has no sound: ".
constexpr char kNoLoopback[] =
    "this version of Windows can't record one program's sound (process loopback needs "
    "Windows 10 build 20348 or later)";
// How long the activation may take before we give up on it (it answers in
// milliseconds where it works).
constexpr DWORD kActivationTimeoutMs = 5000;
// The engine's buffer for our stream; packets come every ~10 ms.
constexpr REFERENCE_TIME kBufferDuration100ns = 2000000; // 200 ms
// No packet for this long: the game's stream counts as gone.
constexpr auto kStreamGone = std::chrono::seconds(1);
constexpr DWORD kWaitMs = 100;

std::string HresultText(const char* what, HRESULT hr)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "the system refused to record the game's sound (%s failed, error 0x%08lX)", what,
                  static_cast<unsigned long>(hr));
    return text;
}

// The activation's answer. Agile, since the audio engine calls it on a
// thread of its own; refcounted, since it may answer after we stopped
// waiting. A COM object goes by Release, never by a delete through one of
// its interfaces, which have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class CActivationHandler final : public IActivateAudioInterfaceCompletionHandler,
                                 public IAgileObject
{
public:
    CActivationHandler() : m_hDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    CActivationHandler(const CActivationHandler&) = delete;
    CActivationHandler& operator=(const CActivationHandler&) = delete;

    HANDLE Done() const { return m_hDone; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IActivateAudioInterfaceCompletionHandler))
            *object = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
        else if (iid == __uuidof(IAgileObject))
            *object = static_cast<IAgileObject*>(this);
        else
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG refs = --m_nRefs;
        if (refs == 0)
            delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation*) override
    {
        SetEvent(m_hDone);
        return S_OK;
    }

private:
    ~CActivationHandler() { CloseHandle(m_hDone); }

    std::atomic<ULONG> m_nRefs{1};
    HANDLE m_hDone;
};
#pragma GCC diagnostic pop

template <class T> void ReleaseOf(T*& object)
{
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

class CLoopbackCapture : public ISoundCapture
{
public:
    CLoopbackCapture() = default;
    ~CLoopbackCapture() override { Stop(); }
    CLoopbackCapture(const CLoopbackCapture&) = delete;
    CLoopbackCapture& operator=(const CLoopbackCapture&) = delete;

    bool Start(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels,
               ISoundCaptureSink& sink, std::string& why) override
    {
        Stop();
        m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (m_hStop == nullptr || m_hStarted == nullptr)
        {
            why = HresultText("CreateEvent", HRESULT_FROM_WIN32(GetLastError()));
            CloseEvents();
            return false;
        }
        m_bStartedOk = false;
        m_thread =
            std::thread([this, pid, rate, channels, &sink] { Run(pid, rate, channels, sink); });
        WaitForSingleObject(m_hStarted, INFINITE);
        if (!m_bStartedOk)
        {
            m_thread.join();
            why = m_strWhy;
            CloseEvents();
            return false;
        }
        return true;
    }

    void Stop() override
    {
        if (m_thread.joinable())
        {
            SetEvent(m_hStop);
            m_thread.join();
        }
        CloseEvents();
    }

private:
    void CloseEvents()
    {
        if (m_hStop != nullptr)
            CloseHandle(m_hStop);
        if (m_hStarted != nullptr)
            CloseHandle(m_hStarted);
        m_hStop = nullptr;
        m_hStarted = nullptr;
    }

    // Ends the start-up: Start returns with `ok` (and m_strWhy).
    void Started(bool ok)
    {
        m_bStartedOk = ok;
        SetEvent(m_hStarted);
    }

    void Run(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels, ISoundCaptureSink& sink)
    {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(init))
        {
            m_strWhy = HresultText("CoInitializeEx", init);
            Started(false);
            return;
        }
        IAudioClient* client = nullptr;
        IAudioCaptureClient* capture = nullptr;
        HANDLE packets = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (Open(pid, rate, channels, packets, client, capture))
        {
            Started(true);
            Deliver(*capture, channels, packets, sink);
            client->Stop();
        }
        else
            Started(false);
        ReleaseOf(capture);
        ReleaseOf(client);
        if (packets != nullptr)
            CloseHandle(packets);
        CoUninitialize();
    }

    bool Open(std::uint32_t pid, std::uint32_t rate, std::uint32_t channels, HANDLE packets,
              IAudioClient*& client, IAudioCaptureClient*& capture)
    {
        if (packets == nullptr)
        {
            m_strWhy = HresultText("CreateEvent", HRESULT_FROM_WIN32(GetLastError()));
            return false;
        }
        if (!Activate(pid, client))
            return false;
        WAVEFORMATEX format = Pcm16Format(rate, channels);
        // A loopback stream has no mix format of its own: the engine
        // converts to ours.
        HRESULT hr = client->Initialize(
            AUDCLNT_SHAREMODE_SHARED,
            AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK |
                AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
            kBufferDuration100ns, 0, &format, nullptr);
        if (FAILED(hr))
        {
            m_strWhy = HresultText("IAudioClient::Initialize", hr);
            return false;
        }
        hr = client->SetEventHandle(packets);
        if (SUCCEEDED(hr))
            hr = client->GetService(__uuidof(IAudioCaptureClient),
                                    reinterpret_cast<void**>(&capture));
        if (SUCCEEDED(hr))
            hr = client->Start();
        if (FAILED(hr))
        {
            m_strWhy = HresultText("starting the loopback stream", hr);
            return false;
        }
        return true;
    }

    bool Activate(std::uint32_t pid, IAudioClient*& client)
    {
        // Looked up, not imported, so that the program still starts on a
        // Windows without it.
        HMODULE mmdevapi = LoadLibraryW(L"mmdevapi.dll");
        const auto activate = mmdevapi == nullptr
                                  ? nullptr
                                  : reinterpret_cast<ActivateFunction>(reinterpret_cast<void*>(
                                        GetProcAddress(mmdevapi, "ActivateAudioInterfaceAsync")));
        if (activate == nullptr)
        {
            m_strWhy = kNoLoopback;
            return false;
        }
        TrellonActivationParams params{};
        params.ActivationType = kActivationTypeProcessLoopback;
        params.ProcessLoopbackParams.TargetProcessId = pid;
        params.ProcessLoopbackParams.ProcessLoopbackMode = kLoopbackIncludeTargetProcessTree;
        PROPVARIANT blob{};
        blob.vt = VT_BLOB;
        blob.blob.cbSize = sizeof params;
        blob.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

        auto* handler = new CActivationHandler;
        IActivateAudioInterfaceAsyncOperation* operation = nullptr;
        HRESULT hr =
            activate(kProcessLoopbackDevice, __uuidof(IAudioClient), &blob, handler, &operation);
        bool ok = false;
        if (SUCCEEDED(hr) &&
            WaitForSingleObject(handler->Done(), kActivationTimeoutMs) == WAIT_OBJECT_0)
        {
            HRESULT result = E_FAIL;
            IUnknown* unknown = nullptr;
            hr = operation->GetActivateResult(&result, &unknown);
            if (SUCCEEDED(hr) && SUCCEEDED(result) && unknown != nullptr)
                ok = SUCCEEDED(unknown->QueryInterface(__uuidof(IAudioClient),
                                                       reinterpret_cast<void**>(&client)));
            ReleaseOf(unknown);
        }
        // Whatever went wrong (no such device, no answer, no client), it is
        // the system that can't: nothing the user could change.
        if (!ok)
            m_strWhy = kNoLoopback;
        ReleaseOf(operation);
        handler->Release();
        return ok;
    }

    void Deliver(IAudioCaptureClient& capture, std::uint32_t channels, HANDLE packets,
                 ISoundCaptureSink& sink)
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        std::vector<std::int16_t> zeros;
        bool attached = false;
        SoundClock::time_point lastPacket{};
        const HANDLE waits[] = {m_hStop, packets};
        for (;;)
        {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kWaitMs);
            if (woke == WAIT_OBJECT_0)
                break;
            UINT32 next = 0;
            while (SUCCEEDED(capture.GetNextPacketSize(&next)) && next > 0)
            {
                BYTE* data = nullptr;
                UINT32 frames = 0;
                DWORD flags = 0;
                UINT64 qpc100ns = 0;
                if (FAILED(capture.GetBuffer(&data, &frames, &flags, nullptr, &qpc100ns)))
                    break;
                const SoundClock::time_point now = SoundClock::now();
                if (!attached)
                {
                    attached = true;
                    sink.OnStreamChanged(true);
                }
                lastPacket = now;
                const std::int16_t* samples = reinterpret_cast<const std::int16_t*>(data);
                if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0)
                {
                    zeros.assign(static_cast<std::size_t>(frames) * channels, 0);
                    samples = zeros.data();
                }
                sink.OnSound(samples, frames, HeardAt(qpc100ns, frequency, now));
                capture.ReleaseBuffer(frames);
            }
            if (attached && SoundClock::now() - lastPacket > kStreamGone)
            {
                attached = false;
                sink.OnStreamChanged(false);
            }
        }
    }

    // The packet's counter time (QueryPerformanceCounter, in 100 ns units)
    // on the steady clock. MinGW's steady_clock counts with the same
    // counter (winpthreads' CLOCK_MONOTONIC) but from its own origin and in
    // nanoseconds, and a Microsoft runtime's need not count with it at all;
    // so we take how long ago the packet was by the counter and go back that
    // far from the steady clock's now, which holds for either.
    static SoundClock::time_point HeardAt(UINT64 qpc100ns, LARGE_INTEGER frequency,
                                          SoundClock::time_point now)
    {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        if (qpc100ns == 0 || frequency.QuadPart <= 0)
            return now;
        const auto counterNow100ns = static_cast<UINT64>(
            static_cast<long double>(counter.QuadPart) * 10000000.0L / frequency.QuadPart);
        const auto ago = std::chrono::nanoseconds(
            (static_cast<std::int64_t>(counterNow100ns) - static_cast<std::int64_t>(qpc100ns)) *
            100);
        return now - std::chrono::duration_cast<SoundClock::duration>(ago);
    }

    std::thread m_thread;
    HANDLE m_hStop = nullptr;
    HANDLE m_hStarted = nullptr;
    bool m_bStartedOk = false; // written by the thread before m_hStarted is set
    std::string m_strWhy;
};
} // namespace

std::unique_ptr<ISoundCapture> CreateSoundCapture()
{
    return std::make_unique<CLoopbackCapture>();
}
