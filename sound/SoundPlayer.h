#pragma once

#include "sound/SoundCapture.h"
#include "sound/SoundCodec.h"
#include "sound/SoundOutput.h"
#include "video/SoundTrack.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Plays a video's sound in step with its picture. The picture's playback
// clock leads: Play starts the sound at a time of the video's time line, and
// Follow, called with the clock at every painted frame, moves the sound back
// into step when it is off by more than kResyncSeconds (a jump of the
// slider, the output's clock drifting from the picture's).
class CSoundPlayer : private ISoundSource
{
public:
    static constexpr double kResyncSeconds = 0.040;

    explicit CSoundPlayer(std::unique_ptr<ISoundOutput> output);
    ~CSoundPlayer() override;
    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // Plays `track` from `seconds` of the video's time line on. The track
    // must stay as it is until Stop. False, with the reason, when there is
    // no output (playback goes on silent).
    bool Play(const CSoundTrack& track, double seconds, std::string& why);
    // The picture is at `seconds`: keep the sound there.
    void Follow(double seconds);
    void Stop();
    bool IsPlaying() const { return m_bOpen; }
    void SetMuted(bool muted) { m_bMuted = muted; }
    bool IsMuted() const { return m_bMuted; }
    // Where the sound being heard now is on the time line (for tests).
    double HeardSeconds() const;

private:
    void Fill(std::int16_t* out, std::size_t frames) override;

    std::unique_ptr<ISoundOutput> m_pOutput;
    std::unique_ptr<CSoundReader> m_pReader;
    const CSoundTrack* m_pTrack = nullptr;
    bool m_bOpen = false;
    std::atomic<bool> m_bMuted{false};
    mutable std::mutex m_mutex; // guards the clock and the position
    // The picture's clock as Play and Follow last gave it: the time line at
    // `m_clockAt` was at `m_clockSeconds`, and runs at the speed of time.
    SoundClock::time_point m_clockAt{};
    double m_clockSeconds = 0;
    std::int64_t m_nNext = 0; // the next sample frame Fill hands out
    SoundClock::time_point m_heardAt{}; // when that frame will be heard
};
