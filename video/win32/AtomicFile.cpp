// The Windows writer: a named temporary "TARGET.saving" beside the target,
// renamed over it once complete (Windows has no unnamed files to link). A
// stale temporary of a killed run is removed before a new one is made.

#include "FileAccess.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <io.h>

CAtomicFile::CAtomicFile(std::string path, bool sync) : m_strPath(std::move(path)), m_bSync(sync) {}

CAtomicFile::~CAtomicFile()
{
    Abandon();
}

std::FILE* CAtomicFile::Open(std::string& reason)
{
    Abandon();
    m_strTemporary = m_strPath + ".saving";
    std::error_code ec;
    std::filesystem::remove(m_strTemporary, ec);
    m_pFile = std::fopen(m_strTemporary.c_str(), "wb");
    if (m_pFile == nullptr)
    {
        reason = std::strerror(errno);
        m_strTemporary.clear();
    }
    return m_pFile;
}

bool CAtomicFile::Commit(std::string& reason)
{
    if (m_pFile == nullptr)
    {
        reason = "the file was not open";
        return false;
    }
    errno = 0;
    bool ok = std::fflush(m_pFile) == 0 && !std::ferror(m_pFile);
    ok = ok && (!m_bSync || _commit(_fileno(m_pFile)) == 0);
    const int flushError = errno;
    ok = std::fclose(m_pFile) == 0 && ok;
    m_pFile = nullptr;
    if (!ok)
    {
        reason = std::strerror(flushError != 0 ? flushError : errno != 0 ? errno : EIO);
        Abandon();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(m_strTemporary, m_strPath, ec);
    if (ec)
    {
        reason = ec.message();
        Abandon();
        return false;
    }
    m_strTemporary.clear();
    return true;
}

void CAtomicFile::Abandon()
{
    if (m_pFile != nullptr)
        std::fclose(m_pFile);
    m_pFile = nullptr;
    if (!m_strTemporary.empty())
    {
        std::error_code ec;
        std::filesystem::remove(m_strTemporary, ec);
    }
    m_strTemporary.clear();
}
