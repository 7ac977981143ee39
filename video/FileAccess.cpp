#include "video/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

std::FILE* OpenRegularFile(const std::string& path, std::string& reason)
{
    std::error_code ec;
    const auto status = std::filesystem::status(Utf8Path(path), ec);
    if (ec)
    {
        reason = ec.message();
        return nullptr;
    }
    if (std::filesystem::is_directory(status))
    {
        reason = "is a directory";
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status))
    {
        reason = "not a regular file";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        reason = std::strerror(errno);
    return file;
}

// The parts of the atomic writer every system shares; opening, committing
// and abandoning are the system's own (linux/, win32/).
CAtomicFile::CAtomicFile(std::string path, bool sync) : m_strPath(std::move(path)), m_bSync(sync) {}

CAtomicFile::~CAtomicFile()
{
    Abandon();
}

bool CAtomicFile::FlushAndSync(std::string& reason)
{
    if (m_pFile == nullptr)
    {
        reason = "the file was not open";
        return false;
    }
    errno = 0;
    if (std::fflush(m_pFile) == 0 && !std::ferror(m_pFile) && (!m_bSync || SyncToDisk(m_pFile)))
        return true;
    reason = std::strerror(errno != 0 ? errno : EIO);
    Abandon();
    return false;
}
