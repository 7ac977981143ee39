// FLAC through libFLAC: every block one whole stream, made and read in
// memory.
#include "sound/SoundCodec.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace
{
constexpr unsigned kCompressionLevel = 5;
constexpr std::size_t kEncodeChunkFrames = 4096;

struct EncoderDeleter
{
    void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};
struct DecoderDeleter
{
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

FLAC__StreamEncoderWriteStatus WriteToBlock(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                            size_t bytes, uint32_t, uint32_t, void* data)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(data);
    try
    {
        out->insert(out->end(), buffer, buffer + bytes);
    }
    catch (const std::bad_alloc&)
    {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

// What the decoder's callbacks read from and write to.
struct DecodeState
{
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::uint64_t expected = 0;          // sample frames the block says it holds
    std::vector<std::int16_t>* samples = nullptr;
    const char* fault = nullptr;
};

FLAC__StreamDecoderReadStatus ReadFromBlock(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                            size_t* bytes, void* data)
{
    auto* state = static_cast<DecodeState*>(data);
    const std::size_t count = std::min(*bytes, state->size - state->at);
    std::memcpy(buffer, state->data + state->at, count);
    state->at += count;
    *bytes = count;
    return count == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                      : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus WriteSamples(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                            const FLAC__int32* const buffer[], void* data)
{
    auto* state = static_cast<DecodeState*>(data);
    const std::uint32_t channels = frame->header.channels, frames = frame->header.blocksize;
    if (channels != state->channels || frame->header.bits_per_sample != 16 ||
        frame->header.sample_rate != state->rate)
    {
        state->fault = "a sound block is of another format than its track";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    std::vector<std::int16_t>& out = *state->samples;
    const std::uint64_t already = out.size() / channels;
    if (already + frames > state->expected)
    {
        state->fault = "a sound block holds more samples than it says";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const std::size_t start = out.size();
    out.resize(start + std::size_t{frames} * channels);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (std::uint32_t c = 0; c < channels; ++c)
            out[start + std::size_t{i} * channels + c] = static_cast<std::int16_t>(
                std::clamp<FLAC__int32>(buffer[c][i], -32768, 32767));
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void NoteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data)
{
    auto* state = static_cast<DecodeState*>(data);
    if (state->fault == nullptr)
        state->fault = "a sound block is damaged";
}
} // namespace

bool EncodeSoundBlock(const std::int16_t* samples, std::size_t frames, std::uint32_t rate,
                      std::uint32_t channels, SoundBlock& block, std::string& error)
{
    block.samples = 0;
    block.bytes.clear();
    if (frames == 0 || frames > CSoundTrack::kMaxBlockSamples)
    {
        error = "no sound to compress";
        return false;
    }
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
    if (!encoder)
    {
        error = "not enough memory for the sound";
        return false;
    }
    FLAC__StreamEncoder* e = encoder.get();
    FLAC__stream_encoder_set_channels(e, channels);
    FLAC__stream_encoder_set_bits_per_sample(e, 16);
    FLAC__stream_encoder_set_sample_rate(e, rate);
    FLAC__stream_encoder_set_compression_level(e, kCompressionLevel);
    FLAC__stream_encoder_set_total_samples_estimate(e, frames);
    if (FLAC__stream_encoder_init_stream(e, WriteToBlock, nullptr, nullptr, nullptr, &block.bytes) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    {
        error = "the FLAC encoder refused the sound's format";
        return false;
    }
    std::vector<FLAC__int32> wide(kEncodeChunkFrames * channels);
    bool ok = true;
    for (std::size_t done = 0; done < frames && ok;)
    {
        const std::size_t count = std::min(kEncodeChunkFrames, frames - done);
        const std::int16_t* from = samples + done * channels;
        std::copy(from, from + count * channels, wide.begin());
        ok = FLAC__stream_encoder_process_interleaved(e, wide.data(), static_cast<uint32_t>(count));
        done += count;
    }
    ok = FLAC__stream_encoder_finish(e) && ok;
    if (!ok)
    {
        block.bytes.clear();
        error = std::string("the FLAC encoder failed: ") +
                FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(e)];
        return false;
    }
    block.samples = static_cast<std::uint32_t>(frames);
    return true;
}

bool DecodeSoundBlock(const SoundBlock& block, std::uint32_t rate, std::uint32_t channels,
                      std::vector<std::int16_t>& samples, std::string& error)
{
    samples.clear();
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder(FLAC__stream_decoder_new());
    if (!decoder || channels == 0)
    {
        error = "not enough memory for the sound";
        return false;
    }
    DecodeState state{block.bytes.data(), block.bytes.size(), 0, rate, channels, block.samples,
                      &samples, nullptr};
    try
    {
        samples.reserve(std::size_t{block.samples} * channels);
    }
    catch (const std::bad_alloc&)
    {
        error = "not enough memory for the sound";
        return false;
    }
    FLAC__StreamDecoder* d = decoder.get();
    if (FLAC__stream_decoder_init_stream(d, ReadFromBlock, nullptr, nullptr, nullptr, nullptr,
                                         WriteSamples, nullptr, NoteError, &state) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
    {
        error = "the FLAC decoder could not start";
        return false;
    }
    const bool ran = FLAC__stream_decoder_process_until_end_of_stream(d);
    FLAC__stream_decoder_finish(d);
    if (state.fault != nullptr || !ran)
    {
        error = state.fault != nullptr ? state.fault : "a sound block is damaged";
        samples.clear();
        return false;
    }
    if (samples.size() != std::size_t{block.samples} * channels)
    {
        error = "a sound block holds fewer samples than it says";
        samples.clear();
        return false;
    }
    return true;
}

bool CSoundReader::Read(std::int64_t first, std::size_t frames, std::int16_t* out)
{
    const std::uint32_t channels = m_track.Channels();
    std::fill(out, out + frames * channels, std::int16_t{0});
    bool ok = true;
    const auto total = static_cast<std::int64_t>(m_track.SampleCount());
    std::int64_t at = std::max<std::int64_t>(first, 0);
    const std::int64_t end = std::min<std::int64_t>(first + static_cast<std::int64_t>(frames), total);
    while (at < end)
    {
        const std::size_t b = m_track.FindBlock(static_cast<std::uint64_t>(at));
        const auto blockStart = static_cast<std::int64_t>(m_track.BlockStart(b));
        const auto blockEnd = static_cast<std::int64_t>(m_track.BlockStart(b + 1));
        if (b != m_nCached)
        {
            m_nCached = b;
            m_bCachedBad = !DecodeSoundBlock(m_track.Block(b), m_track.Rate(), channels, m_samples,
                                            m_strProblem);
        }
        const std::int64_t upTo = std::min(end, blockEnd);
        if (m_bCachedBad)
            ok = false;
        else
            std::copy(m_samples.begin() + (at - blockStart) * channels,
                      m_samples.begin() + (upTo - blockStart) * channels,
                      out + (at - first) * channels);
        at = upTo;
    }
    return ok;
}

CSoundBlockWriter::CSoundBlockWriter(std::uint32_t rate, std::uint32_t channels,
                                     std::uint32_t blockSamples)
    : m_nRate(rate), m_nChannels(channels),
      m_nBlockSamples(blockSamples != 0 ? std::min(blockSamples, CSoundTrack::kMaxBlockSamples)
                                        : rate / 2)
{
}

bool CSoundBlockWriter::Add(const std::int16_t* samples, std::size_t frames,
                            std::vector<SoundBlock>& done, std::string& error)
{
    bool ok = true;
    const std::size_t blockValues = std::size_t{m_nBlockSamples} * m_nChannels;
    while (frames > 0)
    {
        const std::size_t room = (blockValues - m_pending.size()) / m_nChannels;
        const std::size_t take = std::min(room, frames);
        if (samples != nullptr)
        {
            m_pending.insert(m_pending.end(), samples, samples + take * m_nChannels);
            samples += take * m_nChannels;
        }
        else
            m_pending.resize(m_pending.size() + take * m_nChannels, 0);
        frames -= take;
        m_nAdded += take;
        if (m_pending.size() == blockValues)
            ok = Flush(done, error) && ok;
    }
    return ok;
}

bool CSoundBlockWriter::AddSilence(std::size_t frames, std::vector<SoundBlock>& done,
                                   std::string& error)
{
    return Add(nullptr, frames, done, error);
}

bool CSoundBlockWriter::Flush(std::vector<SoundBlock>& done, std::string& error)
{
    if (m_pending.empty())
        return true;
    SoundBlock block;
    const bool ok = EncodeSoundBlock(m_pending.data(), m_pending.size() / m_nChannels, m_nRate,
                                     m_nChannels, block, error);
    m_pending.clear();
    if (ok)
        done.push_back(std::move(block));
    return ok;
}

bool CutSoundTrack(const CSoundTrack& track, double fromSeconds, double toSeconds,
                   CSoundTrack& out, std::string& error)
{
    const std::uint32_t rate = track.Rate(), channels = track.Channels();
    out = CSoundTrack(rate, channels, 0);
    if (track.Empty() || !(toSeconds > fromSeconds))
        return true;
    const double start = static_cast<double>(track.StartMicroseconds()) / 1e6;
    // The first sample frame at or after `fromSeconds`, and the end.
    const auto first = static_cast<std::int64_t>(
        std::max(0.0, std::ceil((fromSeconds - start) * rate - 1e-6)));
    const auto last = static_cast<std::int64_t>(std::min(
        static_cast<double>(track.SampleCount()), std::floor((toSeconds - start) * rate + 1e-6)));
    if (last <= first)
        return true;
    out.SetStartMicroseconds(std::llround((start + static_cast<double>(first) / rate -
                                           fromSeconds) * 1e6));
    CSoundReader reader(track);
    CSoundBlockWriter writer(rate, channels);
    std::vector<std::int16_t> buffer(std::size_t{writer.BlockSamples()} * channels);
    std::vector<SoundBlock> done;
    bool ok = true;
    for (std::int64_t at = first; at < last && ok;)
    {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(last - at, writer.BlockSamples()));
        if (!reader.Read(at, count, buffer.data()))
        {
            error = reader.LastProblem();
            ok = false;
        }
        ok = ok && writer.Add(buffer.data(), count, done, error);
        at += static_cast<std::int64_t>(count);
    }
    ok = ok && writer.Flush(done, error);
    for (SoundBlock& block : done)
        if (ok && !out.Append(std::move(block)))
        {
            error = "not enough memory for the sound";
            ok = false;
        }
    if (!ok)
        out.Clear();
    return ok;
}
