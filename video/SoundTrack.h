#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The recording's sound as the video keeps it: a run of blocks, each one
// whole FLAC stream (its own header and frames) of at most kMaxBlockSamples
// sample frames, played one after another without a gap. The video stores,
// saves, journals and checks the blocks; making and decoding them is the
// sound subsystem's (sound/SoundCodec.h), so that the video needs no codec.
//
// A sample frame is one sample of every channel. The track starts at
// `StartMicroseconds` against frame 0 of its video (positive: after it) and
// lasts SampleCount() / Rate() seconds.
struct SoundBlock
{
    std::uint32_t samples = 0;       // sample frames in the block
    std::vector<std::uint8_t> bytes; // the FLAC stream
};

class CSoundTrack
{
public:
    // What the section's format field names; the only one there is.
    static constexpr std::uint32_t kCodecFlac = 1;
    static constexpr std::uint32_t kDefaultRate = 48000;
    static constexpr std::uint32_t kDefaultChannels = 2;
    // Limits a reader holds every block and track to, well above what the
    // recorder writes (half a second a block).
    static constexpr std::uint32_t kMaxBlockSamples = 1u << 20;
    static constexpr std::uint32_t kMaxBlockBytes = 16u << 20;
    static constexpr std::uint32_t kMinRate = 8000;
    static constexpr std::uint32_t kMaxRate = 192000;
    static constexpr std::uint32_t kMaxChannels = 8;

    CSoundTrack() = default;
    CSoundTrack(std::uint32_t rate, std::uint32_t channels, std::int64_t startMicroseconds);

    std::uint32_t Rate() const { return m_nRate; }
    std::uint32_t Channels() const { return m_nChannels; }
    std::int64_t StartMicroseconds() const { return m_nStartUs; }
    void SetStartMicroseconds(std::int64_t start) { m_nStartUs = start; }
    // The time of sample frame `sample` against frame 0, in seconds.
    double TimeOfSample(std::uint64_t sample) const;

    bool Empty() const { return m_blocks.empty(); }
    std::size_t BlockCount() const { return m_blocks.size(); }
    const SoundBlock& Block(std::size_t index) const { return m_blocks[index]; }
    // The first sample frame of block `index` (SampleCount() for BlockCount()).
    std::uint64_t BlockStart(std::size_t index) const;
    // The block holding sample frame `sample`; BlockCount() past the end.
    std::size_t FindBlock(std::uint64_t sample) const;
    std::uint64_t SampleCount() const { return m_nSamples; }
    std::uint64_t CompressedBytes() const { return m_nBytes; }
    double Seconds() const;

    // Appends a block (not empty, within the limits); false, and nothing
    // changes, when it is not or memory ran out.
    bool Append(SoundBlock block);
    void Clear();

private:
    std::uint32_t m_nRate = kDefaultRate;
    std::uint32_t m_nChannels = kDefaultChannels;
    std::int64_t m_nStartUs = 0;
    std::vector<SoundBlock> m_blocks;
    std::vector<std::uint64_t> m_starts; // BlockStart of each block
    std::uint64_t m_nSamples = 0;
    std::uint64_t m_nBytes = 0;
};

// The sound section of a ".dk2" file (docs/FORMAT.md), after the last
// palette. WriteSoundSection writes `track` (nothing for an empty one);
// ReadSoundSection reads one where `file` stands: SR_NONE at the end of the
// file or before bytes that are no sound section, SR_OK with `track`
// filled, or SR_BAD with the reason in `error` (the track is then empty: a
// section that does not hold together is left out, the video is still
// read).
enum SoundReadResult
{
    SR_NONE,
    SR_OK,
    SR_BAD,
};
bool WriteSoundSection(std::FILE* file, const CSoundTrack& track);
SoundReadResult ReadSoundSection(std::FILE* file, CSoundTrack& track, std::string& error);
// The section's size in bytes for `track` (0 for an empty one).
std::uint64_t SoundSectionBytes(const CSoundTrack& track);
// A block's journal payload and back (the journal's sound block, see
// docs/FORMAT.md): the block's index in its track, the track's format and
// start, then the block.
std::vector<std::uint8_t> EncodeSoundJournalPayload(const CSoundTrack& track, std::size_t index);
bool DecodeSoundJournalPayload(const std::uint8_t* payload, std::size_t length,
                               std::uint32_t& index, CSoundTrack& format, SoundBlock& block);
