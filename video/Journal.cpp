// The recording journal: writer, reader and recovery.
//
// Layout (little-endian, as the ".dk2" file):
//   header, 36 bytes: "TRJOURN" and a zero byte, version 1, width, height,
//     a zero word, the start time (int64 ms since 1970), the CRC-32 of the
//     32 bytes before it;
//   then one block per frame: the word "TRJB", the payload's length, the
//     payload's CRC-32, then the payload: frame index, first new node, new
//     node count, new palette count (0 or 1), the 16-byte frame record, the
//     new nodes (16 bytes each) and the new palette (1024 bytes);
//   between them, as the sound comes, one block per block of the sound
//     track: the word "TRJS", length and CRC-32 as above, then the payload
//     of EncodeSoundJournalPayload (video/SoundTrack.h).
// A reader takes blocks while each is whole, its checksum matches and it
// continues the tables (or the sound track) exactly where the one before
// left them; the first that does not ends the journal.

#include "video/Journal.h"

#include "base/ByteOrder.h"
#include "base/Crc32.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <utility>
#include <vector>

namespace
{
constexpr char kJournalMagic[8] = {'T', 'R', 'J', 'O', 'U', 'R', 'N', '\0'};
constexpr std::uint32_t kJournalVersion = 1;
constexpr std::uint32_t kBlockMagic = 0x424A5254;      // "TRJB"
constexpr std::uint32_t kSoundBlockMagic = 0x534A5254; // "TRJS"
constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kBlockHeadBytes = 12;
constexpr std::size_t kPayloadHeadBytes = 16 + sizeof(FrameRecord);
constexpr std::size_t kSoundPayloadHeadBytes = 28;
// A frame adds at most one node per square of its tree (a third more than
// its leaves) and one palette; a block that claims more is damaged.
constexpr std::uint64_t kMaxBlockNodes =
    (std::uint64_t{kMaxPictureSide} / 4) * (std::uint64_t{kMaxPictureSide} / 4) * 4 / 3 + 64;

std::string SystemReason()
{
    return std::strerror(errno != 0 ? errno : EIO);
}

// One block as the reader met it: where its payload lies in the file and
// what it adds.
struct BlockInfo
{
    bool sound = false; // a sound block: `soundBlock` holds it
    std::int64_t payloadAt = 0;
    std::uint32_t nodeCount = 0;
    std::uint32_t paletteCount = 0;
};

// Reads and checks the journal's header. An empty text, or why the file is
// no journal this reader takes.
std::string ReadJournalHeader(std::FILE* file, JournalHeader& header)
{
    std::uint8_t bytes[kHeaderBytes];
    if (std::fread(bytes, 1, sizeof(bytes), file) != sizeof(bytes) ||
        std::memcmp(bytes, kJournalMagic, sizeof(kJournalMagic)) != 0 ||
        Crc32(bytes, 32) != LoadLe32(bytes + 32))
        return "not a TrellonHD recording journal";
    if (LoadLe32(bytes + 8) != kJournalVersion)
        return "a journal of another version";
    header.width = static_cast<std::int32_t>(LoadLe32(bytes + 12));
    header.height = static_cast<std::int32_t>(LoadLe32(bytes + 16));
    header.startMs = static_cast<std::int64_t>(LoadLe64(bytes + 24));
    if (!IsValidPictureSize(header.width, header.height))
        return "the journal's picture size is out of range";
    return {};
}

enum BlockRead
{
    BR_BLOCK, // a whole block whose checksum matches
    BR_END,   // the clean end: nothing after the last block
    BR_CUT,   // a block cut short, damaged or too large
};

// Reads the next block's payload into `payload`.
BlockRead ReadBlock(std::FILE* file, std::vector<std::uint8_t>& payload, bool& sound)
{
    std::uint8_t head[kBlockHeadBytes];
    const std::size_t got = std::fread(head, 1, sizeof(head), file);
    if (got == 0)
        return BR_END;
    const std::uint32_t magic = got == sizeof(head) ? LoadLe32(head) : 0;
    const std::uint32_t length = got == sizeof(head) ? LoadLe32(head + 4) : 0;
    sound = magic == kSoundBlockMagic;
    const std::uint64_t most =
        sound ? std::uint64_t{kSoundPayloadHeadBytes} + CSoundTrack::kMaxBlockBytes
              : kPayloadHeadBytes + kMaxBlockNodes * sizeof(Node) + kPaletteBytes;
    if (got != sizeof(head) || (magic != kBlockMagic && !sound) ||
        length < (sound ? kSoundPayloadHeadBytes + 1 : kPayloadHeadBytes) || length > most)
        return BR_CUT;
    try
    {
        payload.resize(length);
    }
    catch (const std::bad_alloc&)
    {
        return BR_CUT;
    }
    if (std::fread(payload.data(), 1, length, file) != length ||
        Crc32(payload.data(), length) != LoadLe32(head + 8))
        return BR_CUT;
    return BR_BLOCK;
}

// Whether the block continues the tables exactly where `summary` leaves
// them, its frame record pointing inside them; `block` gets what it adds.
bool ContinuesTables(const JournalSummary& summary, const std::vector<std::uint8_t>& payload,
                     BlockInfo& block)
{
    const std::uint64_t length = payload.size();
    const std::uint32_t frame = LoadLe32(&payload[0]), firstNode = LoadLe32(&payload[4]),
                        nodeCount = LoadLe32(&payload[8]), paletteCount = LoadLe32(&payload[12]);
    FrameRecord record;
    std::memcpy(&record, &payload[16], sizeof(record));
    const std::uint64_t nodesAfter =
        std::uint64_t{static_cast<std::uint32_t>(summary.nodes)} + nodeCount;
    const std::int64_t palettesAfter = summary.palettes + static_cast<std::int64_t>(paletteCount);
    if (frame != static_cast<std::uint32_t>(summary.frames) ||
        firstNode != static_cast<std::uint32_t>(summary.nodes) || paletteCount > 1 ||
        length != kPayloadHeadBytes + std::uint64_t{nodeCount} * sizeof(Node) +
                      std::uint64_t{paletteCount} * kPaletteBytes ||
        nodesAfter > 0x7FFFFFFFu || record.root >= nodesAfter || record.palette < 0 ||
        record.palette >= palettesAfter || summary.frames == 0x7FFFFFFF)
        return false;
    block = BlockInfo{false, summary.wholeBytes + static_cast<std::int64_t>(kBlockHeadBytes),
                      nodeCount, paletteCount};
    return true;
}

// Walks the journal's whole blocks, calling `visit` with each block's info
// and payload. False, with the reason, for a file that is no journal.
template <typename Visit>
bool WalkJournal(const std::string& path, JournalSummary& summary, std::string& error, Visit visit)
{
    summary = JournalSummary{};
    std::FILE* file = OpenRegularFile(path, error);
    if (file == nullptr)
        return false;
    if (std::string fault = ReadJournalHeader(file, summary.header); !fault.empty())
    {
        std::fclose(file);
        error = std::move(fault);
        return false;
    }
    summary.wholeBytes = static_cast<std::int64_t>(kHeaderBytes);

    std::vector<std::uint8_t> payload;
    CSoundTrack format; // the first sound block's format, which the others keep
    for (;;)
    {
        bool sound = false;
        const BlockRead read = ReadBlock(file, payload, sound);
        BlockInfo block;
        if (read == BR_BLOCK && sound)
        {
            std::uint32_t index = 0;
            SoundBlock soundBlock;
            CSoundTrack blockFormat;
            if (!DecodeSoundJournalPayload(payload.data(), payload.size(), index, blockFormat,
                                           soundBlock) ||
                index != static_cast<std::uint32_t>(summary.soundBlocks) ||
                (index > 0 && (blockFormat.Rate() != format.Rate() ||
                               blockFormat.Channels() != format.Channels() ||
                               blockFormat.StartMicroseconds() != format.StartMicroseconds())))
            {
                summary.cut = true;
                break;
            }
            if (index == 0)
                format = blockFormat;
            block.sound = true;
            if (!visit(block, payload.data(), &format, &soundBlock))
            {
                std::fclose(file);
                error = SystemReason();
                return false;
            }
            ++summary.soundBlocks;
            summary.soundSamples += soundBlock.samples;
            summary.wholeBytes += static_cast<std::int64_t>(kBlockHeadBytes + payload.size());
            continue;
        }
        if (read != BR_BLOCK || !ContinuesTables(summary, payload, block))
        {
            summary.cut = read != BR_END;
            break;
        }
        if (!visit(block, payload.data(), nullptr, nullptr))
        {
            std::fclose(file);
            error = SystemReason();
            return false;
        }
        ++summary.frames;
        summary.nodes = static_cast<std::int32_t>(
            std::uint64_t{static_cast<std::uint32_t>(summary.nodes)} + block.nodeCount);
        summary.palettes += static_cast<std::int32_t>(block.paletteCount);
        summary.wholeBytes += static_cast<std::int64_t>(kBlockHeadBytes + payload.size());
    }
    if (std::fseek(file, 0, SEEK_END) == 0)
        summary.fileBytes = std::ftell(file);
    summary.cut = summary.cut || summary.fileBytes > summary.wholeBytes;
    std::fclose(file);
    return true;
}
} // namespace

std::string JournalFileName(std::int64_t startMs, long tag)
{
    return "recording-" + std::to_string(startMs) + "-" + std::to_string(tag) + ".trj";
}

std::string JournalStartText(std::int64_t startMs, bool local)
{
    // The programs that ask have one thread: the standard's shared result
    // is safe here.
    const auto seconds = static_cast<std::time_t>(startMs / 1000);
    const std::tm* at = local ? std::localtime(&seconds) : std::gmtime(&seconds);
    char text[32] = "";
    if (at == nullptr ||
        std::strftime(text, sizeof text, local ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d %H:%M:%S UTC",
                      at) == 0)
        return {};
    return text;
}

bool IsJournalFileName(const std::string& name)
{
    const std::string prefix = "recording-", suffix = ".trj";
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const auto dash = middle.find('-');
    const auto digits = [](const std::string& s)
    { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; };
    return dash != std::string::npos && digits(middle.substr(0, dash)) &&
           digits(middle.substr(dash + 1));
}

std::vector<std::string> ListJournals(const std::string& folder)
{
    std::vector<std::string> journals;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(Utf8Path(folder), ec), end; !ec && it != end;
         it.increment(ec))
        if (IsJournalFileName(Utf8Text(it->path().filename())) &&
            !IsFileLockedByOther(Utf8Text(it->path())))
            journals.push_back(Utf8Text(it->path()));
    // The start time leads the name, so the names sort by it while the
    // numbers have one length (until the year 2286).
    std::sort(journals.begin(), journals.end());
    return journals;
}

// ---------------------------------------------------------------------------
// Writing

CJournalWriter::~CJournalWriter()
{
    Close();
}

bool CJournalWriter::Open(const std::string& path, int width, int height, std::string& reason)
{
    Close();
    if (!IsValidPictureSize(width, height))
    {
        reason = "no picture size to record";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::exists(Utf8Path(path), ec)) // never over another journal
    {
        reason = "a journal of that name exists";
        return false;
    }
    errno = 0;
    m_pFile = std::fopen(path.c_str(), "wb");
    if (m_pFile == nullptr)
    {
        reason = SystemReason();
        return false;
    }
    // Held while the journal is written: a second TrellonHD takes it for a
    // recording in progress, not for one to recover.
    LockFileExclusive(m_pFile);
    m_strPath = path;
    m_strProblem.clear();
    m_bFailed = false;
    m_nFrames = 0;
    m_nSoundBlocks = 0;

    const std::int64_t startMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
    std::vector<std::uint8_t> header(kJournalMagic, kJournalMagic + sizeof(kJournalMagic));
    AppendLe32(header, kJournalVersion);
    AppendLe32(header, static_cast<std::uint32_t>(width));
    AppendLe32(header, static_cast<std::uint32_t>(height));
    AppendLe32(header, 0);
    AppendLe32(header, static_cast<std::uint32_t>(startMs));
    AppendLe32(header, static_cast<std::uint32_t>(static_cast<std::uint64_t>(startMs) >> 32));
    AppendLe32(header, Crc32(header.data(), header.size()));
    errno = 0;
    if (std::fwrite(header.data(), 1, header.size(), m_pFile) != header.size() ||
        std::fflush(m_pFile) != 0)
    {
        reason = SystemReason();
        std::fclose(m_pFile);
        m_pFile = nullptr;
        std::remove(path.c_str());
        return false;
    }
    m_bStop = false;
    m_bDirty = true;
    m_syncThread = std::thread(&CJournalWriter::SyncLoop, this);
    return true;
}

bool CJournalWriter::Append(const CVideo& video, std::int32_t nodesBefore,
                            std::int32_t palettesBefore)
{
    if (m_pFile == nullptr || m_bFailed)
        return false;
    const int frame = video.GetFrameCount() - 1;
    const FrameRecord* record = video.GetFrameRecord(frame);
    const std::int32_t nodes = video.GetNodeCount() - nodesBefore,
                       palettes = video.GetPaletteCount() - palettesBefore;
    if (record == nullptr || frame != m_nFrames || nodes < 0 || palettes < 0 || palettes > 1)
    {
        m_bFailed = true;
        m_strProblem = "the journal lost step with the recording";
        return false;
    }

    // The block is built in a buffer kept from frame to frame, so that a
    // tick allocates nothing once the buffer has grown to its frames' size:
    // the head's place first, then the payload, then the head.
    std::vector<std::uint8_t>& block = m_block;
    block.assign(kBlockHeadBytes, 0);
    AppendLe32(block, static_cast<std::uint32_t>(frame));
    AppendLe32(block, static_cast<std::uint32_t>(nodesBefore));
    AppendLe32(block, static_cast<std::uint32_t>(nodes));
    AppendLe32(block, static_cast<std::uint32_t>(palettes));
    const auto* recordBytes = reinterpret_cast<const std::uint8_t*>(record);
    block.insert(block.end(), recordBytes, recordBytes + sizeof(FrameRecord));
    for (std::int32_t n = 0; n < nodes; ++n)
    {
        const auto* node = reinterpret_cast<const std::uint8_t*>(
            video.GetNode(static_cast<std::uint32_t>(nodesBefore + n)));
        block.insert(block.end(), node, node + sizeof(Node));
    }
    if (palettes == 1)
    {
        const Palette* palette = video.GetStoredPalette(palettesBefore);
        block.insert(block.end(), palette->bytes, palette->bytes + kPaletteBytes);
    }
    const std::size_t length = block.size() - kBlockHeadBytes;
    StoreLe32(block.data(), kBlockMagic);
    StoreLe32(block.data() + 4, static_cast<std::uint32_t>(length));
    StoreLe32(block.data() + 8, Crc32(block.data() + kBlockHeadBytes, length));

    errno = 0;
    const bool written = std::fwrite(block.data(), 1, block.size(), m_pFile) == block.size() &&
                         std::fflush(m_pFile) == 0;
    if (!written)
    {
        // A part of the block may be in the file: the reader drops it. The
        // frames before stay recoverable; nothing after is written.
        m_strProblem = SystemReason();
        m_bFailed = true;
        return false;
    }
    ++m_nFrames;
    m_bDirty = true;
    return true;
}

bool CJournalWriter::AppendSound(const CVideo& video, std::size_t index)
{
    if (m_pFile == nullptr || m_bFailed)
        return false;
    const CSoundTrack& track = video.GetSound();
    if (index != m_nSoundBlocks || index >= track.BlockCount())
    {
        m_bFailed = true;
        m_strProblem = "the journal lost step with the recording's sound";
        return false;
    }
    const std::vector<std::uint8_t> payload = EncodeSoundJournalPayload(track, index);
    std::uint8_t head[kBlockHeadBytes];
    StoreLe32(head, kSoundBlockMagic);
    StoreLe32(head + 4, static_cast<std::uint32_t>(payload.size()));
    StoreLe32(head + 8, Crc32(payload.data(), payload.size()));
    errno = 0;
    const bool written = std::fwrite(head, 1, sizeof(head), m_pFile) == sizeof(head) &&
                         std::fwrite(payload.data(), 1, payload.size(), m_pFile) == payload.size() &&
                         std::fflush(m_pFile) == 0;
    if (!written)
    {
        m_strProblem = SystemReason();
        m_bFailed = true;
        return false;
    }
    ++m_nSoundBlocks;
    m_bDirty = true;
    return true;
}

void CJournalWriter::SyncLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bStop)
    {
        m_wake.wait_for(lock, std::chrono::seconds(1));
        if (m_bDirty.exchange(false) && m_pFile != nullptr)
        {
            lock.unlock();
            SyncToDisk(m_pFile);
            lock.lock();
        }
    }
}

void CJournalWriter::Close()
{
    if (m_syncThread.joinable())
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_all();
        m_syncThread.join();
    }
    if (m_pFile != nullptr)
    {
        SyncToDisk(m_pFile);
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
}

void CJournalWriter::Remove()
{
    Close();
    if (!m_strPath.empty())
        std::remove(m_strPath.c_str());
    m_strPath.clear();
}

// ---------------------------------------------------------------------------
// Reading

bool ScanJournal(const std::string& path, JournalSummary& summary, std::string& error)
{
    return WalkJournal(path, summary, error,
                       [](const BlockInfo&, const std::uint8_t*, const CSoundTrack*,
                          SoundBlock*) { return true; });
}

bool RecoverJournal(const std::string& path, const std::string& out, JournalSummary& summary,
                    std::string& error)
{
    if (!ScanJournal(path, summary, error))
        return false;
    if (summary.frames == 0)
    {
        error = "the journal holds no frame";
        return false;
    }
    CAtomicFile target(out);
    std::FILE* file = target.Open(error);
    if (file == nullptr)
        return false;
    // The ".dk2" file holds the frame records, then the nodes, then the
    // palettes: three passes over the journal, each copying its part.
    const std::int32_t header[6] = {CVideo::kVersion, summary.header.width, summary.header.height,
                                    summary.frames,   summary.nodes,        summary.palettes};
    errno = 0;
    bool ok = std::fwrite(kVideoMagic, sizeof(kVideoMagic), 1, file) == 1 &&
              std::fwrite(header, sizeof(header), 1, file) == 1;
    const std::int32_t frames = summary.frames;
    for (int pass = 0; pass < 3 && ok; ++pass)
    {
        JournalSummary again;
        std::int32_t taken = 0;
        ok =
            WalkJournal(path, again, error,
                        [&](const BlockInfo& block, const std::uint8_t* payload,
                            const CSoundTrack*, SoundBlock*)
                        {
                            if (block.sound)
                                return true;
                            if (taken++ >= frames)
                                return true; // written after the first scan
                            const std::uint8_t* nodes = payload + kPayloadHeadBytes;
                            const std::uint8_t* palette =
                                nodes + std::size_t{block.nodeCount} * sizeof(Node);
                            if (pass == 0)
                                return std::fwrite(payload + 16, sizeof(FrameRecord), 1, file) == 1;
                            if (pass == 1)
                                return block.nodeCount == 0 ||
                                       std::fwrite(nodes, sizeof(Node), block.nodeCount, file) ==
                                           block.nodeCount;
                            return block.paletteCount == 0 ||
                                   std::fwrite(palette, kPaletteBytes, 1, file) == 1;
                        }) &&
            taken >= frames;
    }
    // Then the sound, as far as the first scan found it whole: collected in
    // memory (it is compressed, a few MB a minute) and written as Save would.
    if (ok && summary.soundBlocks > 0)
    {
        JournalSummary again;
        CSoundTrack track;
        ok = WalkJournal(path, again, error,
                         [&](const BlockInfo& block, const std::uint8_t*,
                             const CSoundTrack* format, SoundBlock* sound)
                         {
                             if (!block.sound ||
                                 track.BlockCount() >= static_cast<std::size_t>(summary.soundBlocks))
                                 return true;
                             if (track.Empty())
                                 track = CSoundTrack(format->Rate(), format->Channels(),
                                                     format->StartMicroseconds());
                             return track.Append(std::move(*sound));
                         }) &&
             track.BlockCount() == static_cast<std::size_t>(summary.soundBlocks);
        errno = 0;
        ok = ok && WriteSoundSection(file, track);
    }
    if (!ok)
    {
        if (error.empty())
            error = SystemReason();
        return false;
    }
    return target.Commit(error);
}
