#include "sound/SoundPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

CSoundPlayer::CSoundPlayer(std::unique_ptr<ISoundOutput> output) : m_pOutput(std::move(output)) {}

CSoundPlayer::~CSoundPlayer()
{
    Stop();
}

bool CSoundPlayer::Play(const CSoundTrack& track, double seconds, std::string& why)
{
    Stop();
    if (track.Empty())
        return true;
    if (!m_pOutput)
    {
        why = "this program was built without sound output";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pTrack = &track;
        m_pReader = std::make_unique<CSoundReader>(track);
        m_clockAt = SoundClock::now();
        m_clockSeconds = seconds;
        m_nNext = std::numeric_limits<std::int64_t>::min(); // placed by the first Fill
    }
    if (!m_pOutput->Open(track.Rate(), track.Channels(), *this, why))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pReader.reset();
        m_pTrack = nullptr;
        return false;
    }
    m_bOpen = true;
    return true;
}

void CSoundPlayer::Follow(double seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clockAt = SoundClock::now();
    m_clockSeconds = seconds;
}

void CSoundPlayer::Stop()
{
    if (m_bOpen)
        m_pOutput->Close();
    m_bOpen = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pReader.reset();
    m_pTrack = nullptr;
}

double CSoundPlayer::HeardSeconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pTrack == nullptr || m_nNext == std::numeric_limits<std::int64_t>::min())
        return 0;
    const double ahead = std::chrono::duration<double>(m_heardAt - SoundClock::now()).count();
    return m_pTrack->TimeOfSample(0) + static_cast<double>(m_nNext) / m_pTrack->Rate() - ahead;
}

void CSoundPlayer::Fill(std::int16_t* out, std::size_t frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint32_t channels = m_pTrack != nullptr ? m_pTrack->Channels() : 1;
    if (m_pTrack == nullptr)
    {
        std::fill(out, out + frames * channels, std::int16_t{0});
        return;
    }
    // Where the picture will be when this piece is heard, and so which
    // sample belongs there; the piece follows on from the last one unless
    // that is off by more than kResyncSeconds.
    const SoundClock::time_point heardAt =
        SoundClock::now() + std::chrono::duration_cast<SoundClock::duration>(
                                std::chrono::duration<double>(m_pOutput->Latency()));
    const double picture =
        m_clockSeconds + std::chrono::duration<double>(heardAt - m_clockAt).count();
    const double rate = m_pTrack->Rate();
    const auto wanted = static_cast<std::int64_t>(
        std::llround((picture - m_pTrack->TimeOfSample(0)) * rate));
    if (m_nNext == std::numeric_limits<std::int64_t>::min() ||
        std::abs(wanted - m_nNext) > static_cast<std::int64_t>(kResyncSeconds * rate))
        m_nNext = wanted;
    m_pReader->Read(m_nNext, frames, out);
    if (m_bMuted)
        std::fill(out, out + frames * channels, std::int16_t{0});
    m_nNext += static_cast<std::int64_t>(frames);
    m_heardAt = heardAt + std::chrono::duration_cast<SoundClock::duration>(
                              std::chrono::duration<double>(static_cast<double>(frames) / rate));
}
