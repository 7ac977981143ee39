// The ".dk2" file: the magic, a 24-byte header (version, width, height and the
// three counts) and the frame, node and palette tables exactly as they are in
// memory. Tables move in whole chunks (1 MiB for nodes and frames), so saving
// and loading take a handful of system calls per MiB.

#include "video/VideoFile.h"

#include "private/VideoTables.h"
#include "video/FileAccess.h"
#include "video/Video.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace
{
template <typename Table> bool WriteTable(std::FILE* file, const Table& table)
{
    for (std::size_t c = 0; c < table.ChunkCount(); ++c)
    {
        const std::size_t length = table.ChunkLength(c);
        if (std::fwrite(table.ChunkData(c), sizeof(*table.ChunkData(c)), length, file) != length)
            return false;
    }
    return true;
}

enum ReadResult
{
    RR_OK,
    RR_SHORT,
    RR_NO_MEMORY,
};

// Reads up to `count` records, one chunk at a time: memory grows only as the
// records actually arrive, whatever the header promised. Whole records read
// before a short read stay in the table.
template <typename Table> ReadResult ReadTable(std::FILE* file, Table& table, std::int32_t count)
{
    std::size_t remaining = count > 0 ? static_cast<std::size_t>(count) : 0;
    while (remaining > 0)
    {
        const std::size_t wanted = std::min(remaining, table.RoomInChunk());
        if (!table.Reserve(wanted))
            return RR_NO_MEMORY;
        auto* data = table.EndData();
        const std::size_t got = std::fread(data, sizeof(*data), wanted, file);
        table.Grow(got);
        if (got != wanted)
            return RR_SHORT;
        remaining -= got;
    }
    return RR_OK;
}

// The reasons of a short read, which the file's own texts leave unnamed.
const char kEmptyFileText[] = "the file is empty";
const char kShortHeaderText[] = "the file ends inside its header";
const char kShortTablesText[] = "the file ends before the records its header announces";

void SetError(std::string* error, const char* text)
{
    if (error != nullptr)
        *error = text;
}
} // namespace

int CVideo::WriteBody(std::FILE* file)
{
    // The counts written are the tables' lengths. They equal the counters in
    // every video built by AddFrame; a video left short by a failed read still
    // saves a file whose header matches its records.
    const std::int32_t header[6] = {kVersion,
                                    m_nWidth,
                                    m_nHeight,
                                    static_cast<std::int32_t>(m_pTables->frames.Size()),
                                    static_cast<std::int32_t>(m_pTables->nodes.Size()),
                                    static_cast<std::int32_t>(m_pTables->palettes.Size())};
    if (std::fwrite(header, sizeof(header), 1, file) != 1)
        return 0;
    if (!WriteTable(file, m_pTables->frames) || !WriteTable(file, m_pTables->nodes) ||
        !WriteTable(file, m_pTables->palettes) || !WriteSoundSection(file, m_sound))
        return 0;
    m_bSaved = 1;
    return 1;
}

int CVideo::ReadBody(std::string* error, std::FILE* file)
{
    if (m_nFrameCount >= 1)
    {
        SetError(error, "Video class already contains frames");
        return 0;
    }
    m_bAppendable = 0;
    m_bSaved = 1;

    char magic[8] = {};
    const std::size_t got = std::fread(magic, 1, sizeof(magic), file);
    if (got != sizeof(magic))
    {
        SetError(error, got == 0 ? kEmptyFileText : kShortHeaderText);
        return 0;
    }
    if (std::memcmp(magic, kVideoMagic, sizeof(magic)) != 0)
    {
        SetError(error, "Not a Trellon file");
        return 0;
    }

    std::int32_t version = 0;
    if (std::fread(&version, sizeof(version), 1, file) != 1)
    {
        SetError(error, kShortHeaderText);
        return 0;
    }
    if (version < m_nVersion)
    {
        SetError(error, "Wronf file version");
        return 0;
    }

    std::int32_t* const fields[5] = {&m_nWidth, &m_nHeight, &m_nFrameCount, &m_nNodeCount,
                                     &m_nPaletteCount};
    for (std::int32_t* field : fields)
        if (std::fread(field, sizeof(*field), 1, file) != 1)
        {
            SetError(error, kShortHeaderText);
            return 0;
        }

    if (!IsValidPictureSize(m_nWidth, m_nHeight))
    {
        SetError(error, "Bad picture size in the file header");
        return 0;
    }
    // A negative count reads nothing; the counters always match the tables.
    for (std::int32_t* count : {&m_nFrameCount, &m_nNodeCount, &m_nPaletteCount})
        if (*count < 0)
            *count = 0;
    // The geometry every capture uses; the decoder needs the tree size even
    // when the tables below come short.
    m_nPitch = m_nWidth;
    m_nOriginX = 0;
    m_nOriginY = 0;
    UpdateTreeSize();
    m_bEncoderReady = false;

    ReadResult result = ReadTable(file, m_pTables->frames, m_nFrameCount);
    if (result == RR_OK)
        result = ReadTable(file, m_pTables->nodes, m_nNodeCount);
    if (result == RR_OK)
        result = ReadTable(file, m_pTables->palettes, m_nPaletteCount);
    if (result == RR_NO_MEMORY)
        SetError(error, "Not enough memory for the video");
    if (result == RR_SHORT)
        SetError(error, kShortTablesText);
    if (result != RR_OK)
        return 0;

    // What follows the tables is the sound, or nothing; sound that does not
    // hold together is left out, the picture kept.
    m_sound.Clear();
    m_strSoundProblem.clear();
    if (ReadSoundSection(file, m_sound, m_strSoundProblem) != SR_BAD)
        m_strSoundProblem.clear();

    UpdateTreeSize();
    return 1;
}

int SaveVideoFile(CVideo& video, const std::string& path, std::string* reason)
{
    std::string why;
    CAtomicFile target(path);
    std::FILE* file = target.Open(why);
    const bool wasSaved = video.IsSaved();
    bool ok = file != nullptr;
    if (ok)
    {
        errno = 0;
        ok = std::fwrite(kVideoMagic, sizeof(kVideoMagic), 1, file) == 1 &&
             video.WriteBody(file) == 1;
        if (!ok)
            why = std::strerror(errno != 0 ? errno : EIO);
        else
            ok = target.Commit(why);
    }
    if (!ok)
    {
        target.Abandon();
        if (!wasSaved)
            video.MarkUnsaved();
        if (reason != nullptr)
            *reason = why;
        return 0;
    }
    return 1;
}

int LoadVideoFile(CVideo& video, const std::string& path, std::string& error)
{
    std::string reason;
    std::FILE* file = OpenRegularFile(path, reason);
    if (file == nullptr)
    {
        error = "Error opening " + path + "\n" + reason;
        return 0;
    }
    const int result = video.ReadBody(&reason, file);
    std::fclose(file);
    if (!result)
        error = "Error reading " + path + "\n" + reason;
    return result;
}
