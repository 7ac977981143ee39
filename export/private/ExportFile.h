#pragma once

#include "video/FileAccess.h"

#include <string>

struct AVFormatContext;
struct AVIOContext;

// The file an export writes, and the muxer that writes it: the video's
// streams and the sound's go into the same one.
//
// The muxer writes through an I/O context of our own into the atomic
// writer's stream, so the file appears complete or not at all, as a save
// does; a kill at any moment leaves nothing beside the target. The MP4,
// Matroska, FLAC and WAV muxers seek back to finish their headers (the sizes
// of MP4's boxes and of WAV's chunks, Matroska's duration and cues, FLAC's
// sample count and checksum), so the context can seek; no option we give a
// muxer makes it open the file again by name (MP4's faststart would, and is
// not asked for).
class CExportFile
{
public:
    explicit CExportFile(const std::string& path);
    ~CExportFile();
    CExportFile(const CExportFile&) = delete;
    CExportFile& operator=(const CExportFile&) = delete;

    // The muxer, without a stream; false, with the reason, when this FFmpeg
    // has none of that name.
    bool Create(const char* muxer, std::string& error);
    // After the streams are added: opens the atomic file, puts the muxer's
    // I/O on it and writes the header.
    bool Open(std::string& error);
    // Ends the container and gives the file its name.
    bool Finish(std::string& error);

    AVFormatContext* Format() const { return m_pFormat; }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    // Closed after the muxer and the I/O context that writes to it are
    // freed, and, unless committed, with everything written to it.
    CAtomicFile m_file;
    AVFormatContext* m_pFormat = nullptr;
    AVIOContext* m_pIo = nullptr;
};

// FFmpeg's text for an error code.
std::string AvError(int code);
// The message of a write to `out` that failed for `reason`.
std::string WriteError(const std::string& out, const std::string& reason);
