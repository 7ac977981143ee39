// Files on Windows. The atomic writer: a named temporary "TARGET.saving"
// beside the target, renamed over it once complete (Windows has no unnamed
// files to link). Until then the temporary is marked to be deleted with its
// handle, so that even a killed program leaves nothing; where the file
// system can't mark it, a stale temporary is removed before a new one is
// made. Syncing and locks for the recording journal.

#include "video/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <system_error>
#include <windows.h>

namespace
{
HANDLE HandleOf(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Whether the system deletes the file when its last handle closes.
bool SetDeleteOnClose(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

std::string SystemReason(DWORD code)
{
    return std::error_code(static_cast<int>(code), std::system_category()).message();
}
} // namespace

std::FILE* CAtomicFile::Open(std::string& reason)
{
    Abandon();
    m_strTemporary = m_strPath + ".saving";
    std::error_code ec;
    std::filesystem::remove(Utf8Path(m_strTemporary), ec);
    const HANDLE handle =
        CreateFileW(Utf8Path(m_strTemporary).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
    {
        reason = SystemReason(GetLastError());
        m_strTemporary.clear();
        return nullptr;
    }
    m_bDeleteOnClose = SetDeleteOnClose(handle, true);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_RDWR);
    m_pFile = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
    if (m_pFile == nullptr)
    {
        reason = std::strerror(errno != 0 ? errno : EMFILE);
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(handle);
        Abandon();
    }
    return m_pFile;
}

bool CAtomicFile::Commit(std::string& reason)
{
    if (!FlushAndSync(reason))
        return false;
    // Complete: it stays when closed. A kill from here to the rename leaves
    // the temporary, which the next save of this name removes.
    if (m_bDeleteOnClose && !SetDeleteOnClose(HandleOf(m_pFile), false))
    {
        reason = SystemReason(GetLastError());
        Abandon();
        return false;
    }
    m_bDeleteOnClose = false;
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
    m_bDeleteOnClose = false;
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
