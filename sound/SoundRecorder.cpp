#include "sound/SoundRecorder.h"

#include <algorithm>
#include <cmath>
#include <utility>

CSoundPlacer::CSoundPlacer(std::uint32_t rate, double tolerance) : m_nRate(rate), m_tolerance(tolerance)
{
}

double CSoundPlacer::NextSeconds() const
{
    return m_start + static_cast<double>(m_nPlaced) / static_cast<double>(m_nRate);
}

CSoundPlacer::Placement CSoundPlacer::Place(double at, std::size_t frames)
{
    Placement placement;
    if (!std::isfinite(at) || frames == 0)
    {
        placement.skip = frames;
        return placement;
    }
    const double rate = static_cast<double>(m_nRate);
    if (!m_bStarted)
    {
        // Sound heard before frame 0 is not in the recording.
        const double before = at < 0 ? std::ceil(-at * rate) : 0;
        placement.skip = static_cast<std::size_t>(std::min(before, static_cast<double>(frames)));
        if (placement.skip == frames)
            return placement;
        m_bStarted = true;
        m_start = at + static_cast<double>(placement.skip) / rate;
        m_nPlaced = frames - placement.skip;
        return placement;
    }
    // The average follows about the last 20 pieces (a fifth of a second
    // of 10 ms pieces).
    constexpr double kFollow = 0.05;
    const double off = at - NextSeconds(); // > 0: heard after the samples placed reach
    double move = 0;
    if (std::abs(off) > kJumpSeconds)
        move = off;
    else
    {
        m_averageOff += (off - m_averageOff) * kFollow;
        if (std::abs(m_averageOff) > m_tolerance)
            move = m_averageOff;
    }
    if (move > 0)
        placement.silence = static_cast<std::size_t>(std::llround(move * rate));
    else if (move < 0)
        placement.skip = std::min(frames, static_cast<std::size_t>(std::llround(-move * rate)));
    if (move != 0)
        m_averageOff = 0;
    m_nPlaced += placement.silence + (frames - placement.skip);
    return placement;
}

CSoundRecorder::CSoundRecorder(std::unique_ptr<ISoundCapture> capture, std::uint32_t rate,
                               std::uint32_t channels)
    : m_pCapture(std::move(capture)), m_nRate(rate), m_nChannels(channels), m_placer(rate),
      m_writer(rate, channels)
{
}

CSoundRecorder::~CSoundRecorder()
{
    if (m_pCapture)
        m_pCapture->Stop();
}

bool CSoundRecorder::Start(std::uint32_t pid, SoundClock::time_point origin)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_origin = origin;
        m_bStarted = true;
        m_bPaused = false;
    }
    std::string why;
    if (!m_pCapture || !m_pCapture->Start(pid, m_nRate, m_nChannels, *this, why))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStarted = false;
        m_bUnavailable = true;
        m_strProblem = m_pCapture ? why : "this program was built without sound";
        return false;
    }
    return true;
}

void CSoundRecorder::SetOrigin(SoundClock::time_point origin)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_origin = origin;
}

void CSoundRecorder::SetPaused(bool paused)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bPaused = paused;
}

void CSoundRecorder::Retarget(std::uint32_t pid, std::unique_ptr<ISoundCapture> capture)
{
    if (m_pCapture)
        m_pCapture->Stop();
    m_pCapture = std::move(capture);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bStarted)
            return;
        m_bAttached = false;
    }
    std::string why;
    if (!m_pCapture || !m_pCapture->Start(pid, m_nRate, m_nChannels, *this, why))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strProblem = m_pCapture ? why : "this program was built without sound";
    }
}

void CSoundRecorder::Stop()
{
    if (m_pCapture)
        m_pCapture->Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bStarted)
        return;
    m_bStarted = false;
    std::string error;
    if (!m_writer.Flush(m_finished, error) && m_strProblem.empty())
        m_strProblem = error;
}

void CSoundRecorder::TakeBlocks(std::vector<SoundBlock>& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (SoundBlock& block : m_finished)
        out.push_back(std::move(block));
    m_finished.clear();
}

std::int64_t CSoundRecorder::StartMicroseconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nStartUs;
}

CSoundRecorder::State CSoundRecorder::GetState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bUnavailable)
        return State::Unavailable;
    if (!m_bStarted)
        return State::Off;
    return m_bAttached ? State::Recording : State::Waiting;
}

std::string CSoundRecorder::Problem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strProblem;
}

void CSoundRecorder::OnSound(const std::int16_t* samples, std::size_t frames,
                             SoundClock::time_point heardAt)
{
    SoundClock::time_point origin;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bStarted || m_bPaused)
            return;
        m_bAttached = true;
        origin = m_origin;
    }
    // The placer and the writer are the capture thread's alone (Stop takes
    // the writer only once the capture has stopped), so compressing a block,
    // about a millisecond, keeps no lock.
    const double at = std::chrono::duration<double>(heardAt - origin).count();
    const CSoundPlacer::Placement placement = m_placer.Place(at, frames);
    if (placement.skip >= frames)
        return;
    std::string error;
    std::vector<SoundBlock> done;
    bool ok = m_writer.AddSilence(placement.silence, done, error);
    ok = m_writer.Add(samples + placement.skip * m_nChannels, frames - placement.skip, done,
                      error) &&
         ok;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nStartUs = std::llround(m_placer.StartSeconds() * 1e6);
    for (SoundBlock& block : done)
        m_finished.push_back(std::move(block));
    if (!ok && m_strProblem.empty())
        m_strProblem = error;
}

void CSoundRecorder::OnStreamChanged(bool attached)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAttached = attached;
}
