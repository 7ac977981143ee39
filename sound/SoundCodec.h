#pragma once

#include "video/SoundTrack.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The blocks of a CSoundTrack made and read: each one whole FLAC stream of
// 16-bit samples, compressed at level 5.

// Compresses `frames` sample frames of interleaved 16-bit samples into
// `block`. False, with the reason, when the encoder fails or memory ran out.
bool EncodeSoundBlock(const std::int16_t* samples, std::size_t frames, std::uint32_t rate,
                      std::uint32_t channels, SoundBlock& block, std::string& error);
// Decodes `block` into `samples` (block.samples x channels values). False,
// with the reason, when the block is no FLAC stream of that rate, channel
// count and length, or does not decode.
bool DecodeSoundBlock(const SoundBlock& block, std::uint32_t rate, std::uint32_t channels,
                      std::vector<std::int16_t>& samples, std::string& error);

// Reads a track's samples from any sample frame on, decoding a block only
// when the read enters it.
class CSoundReader
{
public:
    explicit CSoundReader(const CSoundTrack& track) : m_track(track) {}
    // Copies `frames` sample frames from sample frame `first` on into `out`
    // (frames x channels values); what lies before the track's start or
    // after its end, or in a block that does not decode, is silence. False
    // when a block did not decode (the rest is still filled).
    bool Read(std::int64_t first, std::size_t frames, std::int16_t* out);
    const std::string& LastProblem() const { return m_strProblem; }

private:
    const CSoundTrack& m_track;
    std::size_t m_nCached = static_cast<std::size_t>(-1); // the block in m_samples
    bool m_bCachedBad = false;
    std::vector<std::int16_t> m_samples;
    std::string m_strProblem;
};

// Compresses a stream of samples into blocks of `blockSamples` sample
// frames (half a second by default), as they come.
class CSoundBlockWriter
{
public:
    CSoundBlockWriter(std::uint32_t rate, std::uint32_t channels, std::uint32_t blockSamples = 0);
    // Adds samples; every block they complete goes to `done`. False, with
    // the reason, when compressing failed (those samples are lost).
    bool Add(const std::int16_t* samples, std::size_t frames, std::vector<SoundBlock>& done,
             std::string& error);
    // Adds `frames` sample frames of silence.
    bool AddSilence(std::size_t frames, std::vector<SoundBlock>& done, std::string& error);
    // Compresses what is left as a last, shorter block.
    bool Flush(std::vector<SoundBlock>& done, std::string& error);
    std::uint64_t SamplesAdded() const { return m_nAdded; }
    std::uint32_t BlockSamples() const { return m_nBlockSamples; }

private:
    std::uint32_t m_nRate;
    std::uint32_t m_nChannels;
    std::uint32_t m_nBlockSamples;
    std::vector<std::int16_t> m_pending;
    std::uint64_t m_nAdded = 0;
};

// The part of `track` between `fromSeconds` and `toSeconds` against its
// video's frame 0, as a track whose times count from `fromSeconds` (the
// fragment's first frame). Empty when the span holds no sound. False when
// a block did not decode or memory ran out.
bool CutSoundTrack(const CSoundTrack& track, double fromSeconds, double toSeconds,
                   CSoundTrack& out, std::string& error);
