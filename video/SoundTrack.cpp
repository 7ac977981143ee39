// The recording's sound as the video holds it, and its section of the
// ".dk2" file and its journal payload (docs/FORMAT.md):
//   section header, 60 bytes: "TRSOUND" and a zero byte, version 1, codec
//     (1: FLAC), sample rate, channels, the first sample's time against
//     frame 0 (int64 microseconds), sample frames in all (uint64), block
//     count, the data's length D (uint64), the data's CRC-32, the CRC-32 of
//     the 56 bytes before it;
//   then D bytes of data: per block its sample frames, its length n and its
//     n bytes (one FLAC stream).
#include "video/SoundTrack.h"

#include "base/ByteOrder.h"
#include "base/Crc32.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace
{
constexpr char kSoundMagic[8] = {'T', 'R', 'S', 'O', 'U', 'N', 'D', '\0'};
constexpr std::uint32_t kSoundVersion = 1;
constexpr std::size_t kSectionHeadBytes = 60;
constexpr std::size_t kBlockHeadBytes = 8;
constexpr std::size_t kPayloadHeadBytes = 28;

bool FormatInRange(std::uint32_t codec, std::uint32_t rate, std::uint32_t channels)
{
    return codec == CSoundTrack::kCodecFlac && rate >= CSoundTrack::kMinRate &&
           rate <= CSoundTrack::kMaxRate && channels >= 1 && channels <= CSoundTrack::kMaxChannels;
}

bool BlockInRange(std::uint32_t samples, std::uint64_t bytes)
{
    return samples >= 1 && samples <= CSoundTrack::kMaxBlockSamples && bytes >= 1 &&
           bytes <= CSoundTrack::kMaxBlockBytes;
}
} // namespace

CSoundTrack::CSoundTrack(std::uint32_t rate, std::uint32_t channels, std::int64_t startMicroseconds)
    : m_nRate(rate), m_nChannels(channels), m_nStartUs(startMicroseconds)
{
}

double CSoundTrack::TimeOfSample(std::uint64_t sample) const
{
    return static_cast<double>(m_nStartUs) / 1e6 +
           static_cast<double>(sample) / static_cast<double>(m_nRate);
}

std::uint64_t CSoundTrack::BlockStart(std::size_t index) const
{
    return index < m_starts.size() ? m_starts[index] : m_nSamples;
}

std::size_t CSoundTrack::FindBlock(std::uint64_t sample) const
{
    if (sample >= m_nSamples)
        return m_blocks.size();
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), sample);
    return static_cast<std::size_t>(after - m_starts.begin()) - 1;
}

double CSoundTrack::Seconds() const
{
    return static_cast<double>(m_nSamples) / static_cast<double>(m_nRate);
}

bool CSoundTrack::Append(SoundBlock block)
{
    if (!BlockInRange(block.samples, block.bytes.size()))
        return false;
    try
    {
        m_starts.reserve(m_starts.size() + 1);
        m_blocks.reserve(m_blocks.size() + 1);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    m_starts.push_back(m_nSamples);
    m_nSamples += block.samples;
    m_nBytes += block.bytes.size();
    m_blocks.push_back(std::move(block));
    return true;
}

void CSoundTrack::Clear()
{
    m_blocks.clear();
    m_starts.clear();
    m_nSamples = 0;
    m_nBytes = 0;
}

std::uint64_t SoundSectionBytes(const CSoundTrack& track)
{
    if (track.Empty())
        return 0;
    return kSectionHeadBytes + kBlockHeadBytes * track.BlockCount() + track.CompressedBytes();
}

bool WriteSoundSection(std::FILE* file, const CSoundTrack& track)
{
    if (track.Empty())
        return true;
    const std::uint64_t dataBytes = SoundSectionBytes(track) - kSectionHeadBytes;
    std::uint32_t dataCrc = 0;
    for (std::size_t b = 0; b < track.BlockCount(); ++b)
    {
        const SoundBlock& block = track.Block(b);
        std::uint8_t head[kBlockHeadBytes];
        StoreLe32(head, block.samples);
        StoreLe32(head + 4, static_cast<std::uint32_t>(block.bytes.size()));
        dataCrc = Crc32(head, sizeof(head), dataCrc);
        dataCrc = Crc32(block.bytes.data(), block.bytes.size(), dataCrc);
    }
    std::uint8_t header[kSectionHeadBytes];
    std::memcpy(header, kSoundMagic, sizeof(kSoundMagic));
    StoreLe32(header + 8, kSoundVersion);
    StoreLe32(header + 12, CSoundTrack::kCodecFlac);
    StoreLe32(header + 16, track.Rate());
    StoreLe32(header + 20, track.Channels());
    StoreLe64(header + 24, static_cast<std::uint64_t>(track.StartMicroseconds()));
    StoreLe64(header + 32, track.SampleCount());
    StoreLe32(header + 40, static_cast<std::uint32_t>(track.BlockCount()));
    StoreLe64(header + 44, dataBytes);
    StoreLe32(header + 52, dataCrc);
    StoreLe32(header + 56, Crc32(header, 56));
    if (std::fwrite(header, sizeof(header), 1, file) != 1)
        return false;
    for (std::size_t b = 0; b < track.BlockCount(); ++b)
    {
        const SoundBlock& block = track.Block(b);
        std::uint8_t head[kBlockHeadBytes];
        StoreLe32(head, block.samples);
        StoreLe32(head + 4, static_cast<std::uint32_t>(block.bytes.size()));
        if (std::fwrite(head, sizeof(head), 1, file) != 1 ||
            std::fwrite(block.bytes.data(), 1, block.bytes.size(), file) != block.bytes.size())
            return false;
    }
    return true;
}

SoundReadResult ReadSoundSection(std::FILE* file, CSoundTrack& track, std::string& error)
{
    track.Clear();
    std::uint8_t header[kSectionHeadBytes];
    const std::size_t got = std::fread(header, 1, sizeof(header), file);
    if (got == 0)
        return SR_NONE;
    const auto bad = [&](const char* why)
    {
        track.Clear();
        error = why;
        return SR_BAD;
    };
    if (got < sizeof(kSoundMagic) || std::memcmp(header, kSoundMagic, sizeof(kSoundMagic)) != 0)
    {
        // Not ours to judge: `trellon verify` reports a file longer than
        // its tables.
        error = "the file goes on after its records with something that is no sound section";
        return SR_NONE;
    }
    if (got != sizeof(header))
        return bad("the sound section ends inside its header");
    if (Crc32(header, 56) != LoadLe32(header + 56))
        return bad("the sound section's header is damaged (its checksum does not match)");
    if (LoadLe32(header + 8) != kSoundVersion)
        return bad("the sound section is of a version this program does not know");
    const std::uint32_t codec = LoadLe32(header + 12), rate = LoadLe32(header + 16),
                        channels = LoadLe32(header + 20), blocks = LoadLe32(header + 40),
                        dataCrc = LoadLe32(header + 52);
    const auto start = static_cast<std::int64_t>(LoadLe64(header + 24));
    const std::uint64_t samples = LoadLe64(header + 32), dataBytes = LoadLe64(header + 44);
    if (!FormatInRange(codec, rate, channels))
        return bad("the sound section names a format out of range");
    if (blocks == 0 || dataBytes / kBlockHeadBytes < blocks ||
        samples > std::uint64_t{blocks} * CSoundTrack::kMaxBlockSamples)
        return bad("the sound section's counts do not hold together");

    track = CSoundTrack(rate, channels, start);
    std::uint64_t remaining = dataBytes;
    std::uint32_t crc = 0;
    for (std::uint32_t b = 0; b < blocks; ++b)
    {
        std::uint8_t head[kBlockHeadBytes];
        if (remaining < sizeof(head) || std::fread(head, sizeof(head), 1, file) != 1)
            return bad("the file ends inside its sound section");
        remaining -= sizeof(head);
        SoundBlock block;
        block.samples = LoadLe32(head);
        const std::uint32_t length = LoadLe32(head + 4);
        if (!BlockInRange(block.samples, length) || length > remaining)
            return bad("a block of the sound section is out of range");
        // Memory is taken as the bytes arrive: a block is at most 16 MiB.
        try
        {
            block.bytes.resize(length);
        }
        catch (const std::bad_alloc&)
        {
            return bad("not enough memory for the sound");
        }
        if (std::fread(block.bytes.data(), 1, length, file) != length)
            return bad("the file ends inside its sound section");
        remaining -= length;
        crc = Crc32(head, sizeof(head), crc);
        crc = Crc32(block.bytes.data(), length, crc);
        if (!track.Append(std::move(block)))
            return bad("not enough memory for the sound");
    }
    if (remaining != 0)
        return bad("the sound section's length does not match its blocks");
    if (crc != dataCrc)
        return bad("the sound is damaged (its checksum does not match)");
    if (track.SampleCount() != samples)
        return bad("the sound section's length in samples does not match its blocks");
    return SR_OK;
}

std::vector<std::uint8_t> EncodeSoundJournalPayload(const CSoundTrack& track, std::size_t index)
{
    const SoundBlock& block = track.Block(index);
    std::vector<std::uint8_t> payload;
    payload.reserve(kPayloadHeadBytes + block.bytes.size());
    AppendLe32(payload, static_cast<std::uint32_t>(index));
    AppendLe32(payload, CSoundTrack::kCodecFlac);
    AppendLe32(payload, track.Rate());
    AppendLe32(payload, track.Channels());
    AppendLe32(payload, static_cast<std::uint32_t>(track.StartMicroseconds()));
    AppendLe32(payload,
               static_cast<std::uint32_t>(static_cast<std::uint64_t>(track.StartMicroseconds()) >> 32));
    AppendLe32(payload, block.samples);
    payload.insert(payload.end(), block.bytes.begin(), block.bytes.end());
    return payload;
}

bool DecodeSoundJournalPayload(const std::uint8_t* payload, std::size_t length,
                               std::uint32_t& index, CSoundTrack& format, SoundBlock& block)
{
    if (length <= kPayloadHeadBytes)
        return false;
    index = LoadLe32(payload);
    const std::uint32_t codec = LoadLe32(payload + 4), rate = LoadLe32(payload + 8),
                        channels = LoadLe32(payload + 12);
    const auto start = static_cast<std::int64_t>(LoadLe64(payload + 16));
    block.samples = LoadLe32(payload + 24);
    if (!FormatInRange(codec, rate, channels) ||
        !BlockInRange(block.samples, length - kPayloadHeadBytes))
        return false;
    format = CSoundTrack(rate, channels, start);
    block.bytes.assign(payload + kPayloadHeadBytes, payload + length);
    return true;
}
