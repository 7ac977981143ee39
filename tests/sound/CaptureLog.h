#pragma once

#include "sound/SoundCapture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <vector>

// What a capture delivered: every piece with its time, and every change of
// the stream with when it was said. Pieces are kept as they came.
class CCaptureLog : public ISoundCaptureSink
{
public:
    struct Piece
    {
        SoundClock::time_point heardAt;
        SoundClock::time_point deliveredAt;
        std::vector<std::int16_t> samples; // interleaved stereo
    };
    struct Change
    {
        bool attached;
        SoundClock::time_point at;
    };

    void OnSound(const std::int16_t* samples, std::size_t frames,
                 SoundClock::time_point heardAt) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pieces.push_back({heardAt, SoundClock::now(), {samples, samples + frames * 2}});
        m_changed.notify_all();
    }
    void OnStreamChanged(bool attached) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changes.push_back({attached, SoundClock::now()});
        m_changed.notify_all();
    }

    std::vector<Piece> Pieces() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pieces;
    }
    std::vector<Change> Changes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_changes;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pieces.clear();
        m_changes.clear();
    }
    // Waits until a piece with a sample louder than `threshold` came after
    // `after`; when it did, the time it came.
    bool WaitForSound(SoundClock::time_point after, std::chrono::milliseconds limit,
                      SoundClock::time_point& came, int threshold = 1000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit,
                                  [&]
                                  {
                                      for (const Piece& piece : m_pieces)
                                          if (piece.deliveredAt > after)
                                              for (const std::int16_t s : piece.samples)
                                                  if (std::abs(s) > threshold)
                                                  {
                                                      came = piece.deliveredAt;
                                                      return true;
                                                  }
                                      return false;
                                  });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Piece> m_pieces;
    std::vector<Change> m_changes;
};

// The left channel of the pieces delivered after `from`, one after another.
inline std::vector<double> LeftChannel(const std::vector<CCaptureLog::Piece>& pieces,
                                       SoundClock::time_point from)
{
    std::vector<double> left;
    for (const CCaptureLog::Piece& piece : pieces)
        if (piece.deliveredAt >= from)
            for (std::size_t i = 0; i < piece.samples.size(); i += 2)
                left.push_back(piece.samples[i]);
    return left;
}

// The amplitude of the `pitch` Hz component of `samples` (Goertzel's
// filter over a Hann window, scaled so that a full-scale sine gives 32767).
inline double Amplitude(const std::vector<double>& samples, double pitch, double rate)
{
    const double w = 2 * std::numbers::pi * pitch / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0, window = 0;
    const std::size_t n = samples.size();
    for (std::size_t i = 0; i < n; ++i)
    {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                                 static_cast<double>(n - 1));
        window += hann;
        const double s0 = samples[i] * hann + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / window;
}

// The amplitude of the `pitch` Hz component as most of `samples` holds it:
// the median over tenths of a second. A break in a tone (its player stalled
// by a busy machine leaves a gap, or the pieces around a missing one meet
// out of phase) lowers the tenths it falls in, not the level of the rest,
// which a wrong level or a mix of streams would change throughout.
inline double SteadyAmplitude(const std::vector<double>& samples, double pitch, double rate)
{
    const auto tenth = static_cast<std::ptrdiff_t>(rate / 10);
    std::vector<double> amplitudes;
    for (auto from = samples.begin(); samples.end() - from >= tenth; from += tenth)
        amplitudes.push_back(Amplitude(std::vector<double>(from, from + tenth), pitch, rate));
    if (amplitudes.empty())
        return Amplitude(samples, pitch, rate);
    const auto middle = amplitudes.begin() + static_cast<std::ptrdiff_t>(amplitudes.size() / 2);
    std::nth_element(amplitudes.begin(), middle, amplitudes.end());
    return *middle;
}

inline double Decibels(double amplitude, double reference)
{
    return 20 * std::log10(std::max(amplitude, 1e-9) / reference);
}
