#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// A program's playback stream inside the test process, as the game's would
// be: 48 kHz stereo from a generator, with the stream's own clock of what
// is heard now (pa_stream_get_time). Its sink input carries this process's
// pid, which is what a capture is asked to follow.
class CTonePlayer
{
public:
    static constexpr std::uint32_t kRate = 48000;
    static constexpr std::uint32_t kChannels = 2;
    // Fills `frames` sample frames from sample frame `first` on.
    using Generator =
        std::function<void(std::uint64_t first, std::size_t frames, std::int16_t* out)>;

    explicit CTonePlayer(Generator generator) : m_generator(std::move(generator)) {}
    ~CTonePlayer() { Close(); }
    CTonePlayer(const CTonePlayer&) = delete;
    CTonePlayer& operator=(const CTonePlayer&) = delete;

    // Opens a new stream (the track starts again at frame 0).
    bool Open(std::string& why);
    void Close();
    // The sample frame being heard now; -1 until the stream knows.
    std::int64_t HeardSample();
    std::uint32_t SinkInputIndex();

private:
    static void Write(pa_stream* stream, std::size_t bytes, void* self);

    Generator m_generator;
    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    pa_stream* m_pStream = nullptr;
    std::uint64_t m_nWritten = 0;
};

// A sine of `pitch` Hz at `level` of full scale, in both channels.
CTonePlayer::Generator Tone(double pitch, double level);
// Beeps of `pitch` Hz, `beepFrames` long, each `everyFrames` from frame 0 on.
CTonePlayer::Generator Beeps(double pitch, std::uint64_t beepFrames, std::uint64_t everyFrames);
