#pragma once

#include "sound/SoundCapture.h"
#include "sound/SoundCodec.h"
#include "video/SoundTrack.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Where each piece of captured sound goes on the video's time line. Sound is
// placed by when it was heard, not by counting samples: a piece heard well
// later than the samples placed so far reach (kJumpSeconds) is preceded by
// silence (the stream paused, went away, or the server delivered nothing),
// one heard well earlier loses its overlap. Smaller differences are the
// timing's jitter (a few ms on PulseAudio, 10 to 25 ms on PipeWire) and
// clock drift: they are averaged over the pieces, and only when the average
// is off by more than the tolerance is the track moved by it, so that the
// samples stay continuous and in step.
class CSoundPlacer
{
public:
    struct Placement
    {
        std::size_t silence = 0; // sample frames of silence before the piece
        std::size_t skip = 0;    // sample frames dropped from its start
    };

    static constexpr double kJumpSeconds = 0.040;

    // `tolerance`: how far (seconds) the pieces may be off on average
    // before the track is moved.
    explicit CSoundPlacer(std::uint32_t rate, double tolerance = 0.010);
    // A piece of `frames` sample frames whose first was heard `at` seconds
    // into the video's time line. The first piece placed starts the track
    // (StartSeconds); pieces before 0 are dropped up to 0.
    Placement Place(double at, std::size_t frames);
    bool Started() const { return m_bStarted; }
    double StartSeconds() const { return m_start; }
    std::uint64_t Placed() const { return m_nPlaced; }
    // Where the next sample frame goes, in seconds of the time line.
    double NextSeconds() const;

private:
    std::uint32_t m_nRate;
    double m_tolerance;
    bool m_bStarted = false;
    double m_start = 0;
    std::uint64_t m_nPlaced = 0;
    double m_averageOff = 0; // how late the pieces came, on average, against their place
};

// Records the game's sound while its video is recorded: the capture
// delivers on its own thread, where each piece is placed on the time line
// (CSoundPlacer) and compressed into blocks (CSoundBlockWriter); the
// recording's thread takes the finished blocks at each capture tick
// (TakeBlocks), for the video's track and its journal. Nothing on the
// capture tick's path waits for more than a short lock.
class CSoundRecorder : private ISoundCaptureSink
{
public:
    enum class State
    {
        Off,          // not started, or stopped
        Unavailable,  // the system can't record the game's sound (Problem says why)
        Waiting,      // started; the game plays no sound yet, or its stream went away
        Recording,    // the game's stream is being recorded
    };

    explicit CSoundRecorder(std::unique_ptr<ISoundCapture> capture,
                            std::uint32_t rate = CSoundTrack::kDefaultRate,
                            std::uint32_t channels = CSoundTrack::kDefaultChannels);
    ~CSoundRecorder() override;
    CSoundRecorder(const CSoundRecorder&) = delete;
    CSoundRecorder& operator=(const CSoundRecorder&) = delete;

    // Starts recording the sound of process `pid` for a video whose time
    // line's 0 is at `origin`. False when the system can't (State becomes
    // Unavailable and Problem says why, once).
    bool Start(std::uint32_t pid, SoundClock::time_point origin);
    // The time line moved (a pause ended): sound heard from now on is placed
    // against the new origin.
    void SetOrigin(SoundClock::time_point origin);
    // While paused, captured sound is dropped, as the picture is.
    void SetPaused(bool paused);
    // The game was restarted: follow process `pid` with `capture` from now
    // on, on the same time line.
    void Retarget(std::uint32_t pid, std::unique_ptr<ISoundCapture> capture);
    // Stops the capture and compresses what is left into a last block.
    void Stop();

    // The blocks finished since the last call, in order, and the track's
    // start against frame 0 (valid once a block exists).
    void TakeBlocks(std::vector<SoundBlock>& out);
    std::int64_t StartMicroseconds() const;
    std::uint32_t Rate() const { return m_nRate; }
    std::uint32_t Channels() const { return m_nChannels; }
    State GetState() const;
    std::string Problem() const;

private:
    void OnSound(const std::int16_t* samples, std::size_t frames,
                 SoundClock::time_point heardAt) override;
    void OnStreamChanged(bool attached) override;

    std::unique_ptr<ISoundCapture> m_pCapture;
    const std::uint32_t m_nRate;
    const std::uint32_t m_nChannels;

    // The capture thread's own.
    CSoundPlacer m_placer;
    CSoundBlockWriter m_writer;

    mutable std::mutex m_mutex; // guards everything below
    SoundClock::time_point m_origin{};
    std::int64_t m_nStartUs = 0;
    bool m_bStarted = false;
    bool m_bPaused = false;
    bool m_bAttached = false;
    bool m_bUnavailable = false;
    std::string m_strProblem;
    std::vector<SoundBlock> m_finished;
};
