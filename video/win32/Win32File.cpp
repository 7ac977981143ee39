// Files on Windows. The atomic writer: a named temporary "TARGET.saving"
// beside the target, renamed over it once complete (Windows has no unnamed
// files to link); a stale temporary of a killed run is removed before a new
// one is made. Syncing and locks for the recording journal.

#include "video/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <io.h>
#include <windows.h>

std::FILE* CAtomicFile::Open(std::string& reason)
{
    Abandon();
    m_strTemporary = m_strPath + ".saving";
    std::error_code ec;
    std::filesystem::remove(Utf8Path(m_strTemporary), ec);
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
    if (!FlushAndSync(reason))
        return false;
    const bool closed = std::fclose(m_pFile) == 0;
    m_pFile = nullptr;
    if (!closed)
    {
        reason = std::strerror(errno != 0 ? errno : EIO);
        Abandon();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(Utf8Path(m_strTemporary), Utf8Path(m_strPath), ec);
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
        std::filesystem::remove(Utf8Path(m_strTemporary), ec);
    }
    m_strTemporary.clear();
}

bool SyncToDisk(std::FILE* file)
{
    return file != nullptr && _commit(_fileno(file)) == 0;
}

namespace
{
HANDLE HandleOf(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}
} // namespace

bool LockFileExclusive(std::FILE* file)
{
    if (file == nullptr)
        return false;
    OVERLAPPED at{};
    return LockFileEx(HandleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != 0;
}

bool IsFileLockedByOther(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    OVERLAPPED at{};
    const HANDLE handle = HandleOf(file);
    const bool locked = LockFileEx(handle, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) == 0;
    if (!locked)
        UnlockFileEx(handle, 0, 1, 0, &at);
    std::fclose(file);
    return locked;
}
