#include "private/ExportFile.h"

extern "C"
{
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <sys/types.h>

namespace
{
// The muxer's buffer in front of the file; the stream itself is unbuffered,
// so a write the system refuses fails at once, with the system's reason.
constexpr int kIoBufferBytes = 64 * 1024;

#ifdef _WIN32
// Windows' off_t has 32 bits; its own calls take 64.
std::int64_t Tell(std::FILE* file)
{
    return _ftelli64(file);
}
int SeekTo(std::FILE* file, std::int64_t offset, int whence)
{
    return _fseeki64(file, offset, whence);
}
#else
std::int64_t Tell(std::FILE* file)
{
    return ftello(file);
}
int SeekTo(std::FILE* file, std::int64_t offset, int whence)
{
    return fseeko(file, static_cast<off_t>(offset), whence);
}
#endif

// The muxer's writes and seeks, on the atomic writer's stream.
int WriteToFile(void* opaque, std::uint8_t* bytes, int size)
{
    errno = 0;
    if (std::fwrite(bytes, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(opaque)) ==
        static_cast<std::size_t>(size))
        return size;
    return AVERROR(errno != 0 ? errno : EIO);
}

std::int64_t SeekInFile(void* opaque, std::int64_t offset, int whence)
{
    auto* file = static_cast<std::FILE*>(opaque);
    if ((whence & AVSEEK_SIZE) != 0)
    {
        const std::int64_t at = Tell(file);
        if (at < 0 || SeekTo(file, 0, SEEK_END) != 0)
            return AVERROR(errno);
        const std::int64_t size = Tell(file);
        if (SeekTo(file, at, SEEK_SET) != 0)
            return AVERROR(errno);
        return size;
    }
    if (SeekTo(file, offset, whence & ~AVSEEK_FORCE) != 0)
        return AVERROR(errno);
    return Tell(file);
}
} // namespace

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

std::string WriteError(const std::string& out, const std::string& reason)
{
    return "Error writing to " + out + ": " + reason;
}

CExportFile::CExportFile(const std::string& path) : m_strPath(path), m_file(path, /*sync=*/true) {}

CExportFile::~CExportFile()
{
    if (m_pFormat != nullptr)
    {
        m_pFormat->pb = nullptr; // ours, freed below
        avformat_free_context(m_pFormat);
    }
    if (m_pIo != nullptr)
    {
        av_freep(&m_pIo->buffer);
        avio_context_free(&m_pIo);
    }
}

bool CExportFile::Create(const char* muxer, std::string& error)
{
    if (avformat_alloc_output_context2(&m_pFormat, nullptr, muxer, m_strPath.c_str()) < 0)
    {
        error = std::string("this FFmpeg has no ") + muxer;
        return false;
    }
    return true;
}

bool CExportFile::Open(std::string& error)
{
    std::string reason;
    std::FILE* stream = m_file.Open(reason);
    if (stream == nullptr)
    {
        error = WriteError(m_strPath, reason);
        return false;
    }
    // Set before the first write, as the C library asks.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer != nullptr)
        m_pIo =
            avio_alloc_context(buffer, kIoBufferBytes, 1, stream, nullptr, WriteToFile, SeekInFile);
    if (m_pIo == nullptr)
    {
        av_free(buffer);
        error = "out of memory";
        return false;
    }
    m_pFormat->pb = m_pIo;
    m_pFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
    const int result = avformat_write_header(m_pFormat, nullptr);
    if (result < 0)
    {
        error = WriteError(m_strPath, AvError(result));
        return false;
    }
    return true;
}

bool CExportFile::Finish(std::string& error)
{
    int result = av_write_trailer(m_pFormat);
    if (result >= 0)
    {
        avio_flush(m_pIo);
        result = m_pIo->error;
    }
    if (result < 0)
    {
        error = WriteError(m_strPath, AvError(result));
        return false;
    }
    std::string reason;
    if (!m_file.Commit(reason))
    {
        error = WriteError(m_strPath, reason);
        return false;
    }
    return true;
}
