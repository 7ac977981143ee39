// Files on Linux. The atomic writer: an unnamed file (O_TMPFILE) in the
// target's folder, linked into place through /proc/self/fd once complete. A
// kill at any moment before that leaves nothing on disk; the kernel frees
// the blocks. Syncing and advisory locks for the recording journal.

#include "video/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace
{
std::string FolderOf(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}
} // namespace

std::FILE* CAtomicFile::Open(std::string& reason)
{
    Abandon();
    // A temporary that an earlier, killed run left behind.
    const std::string stale = m_strPath + ".saving";
    std::error_code ec;
    std::filesystem::remove(stale, ec);

    int fd = open(FolderOf(m_strPath).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
    {
        // A file system without unnamed files: a named temporary instead.
        m_strTemporary = stale;
        fd = open(stale.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
    }
    if (fd < 0)
    {
        reason = std::strerror(errno);
        m_strTemporary.clear();
        return nullptr;
    }
    m_pFile = fdopen(fd, "wb");
    if (m_pFile == nullptr)
    {
        reason = std::strerror(errno);
        close(fd);
        Abandon();
    }
    return m_pFile;
}

bool CAtomicFile::Commit(std::string& reason)
{
    if (!FlushAndSync(reason))
        return false;

    if (m_strTemporary.empty())
    {
        const std::string self = "/proc/self/fd/" + std::to_string(fileno(m_pFile));
        // Straight to the target's name when it is free; else under the
        // temporary name, which the rename below takes over the old file.
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_strPath.c_str(), AT_SYMLINK_FOLLOW) == 0)
        {
            // Every byte is synced already: the file is complete in place.
            std::fclose(m_pFile);
            m_pFile = nullptr;
            return true;
        }
        if (errno != EEXIST)
        {
            reason = std::strerror(errno);
            Abandon();
            return false;
        }
        m_strTemporary = m_strPath + ".saving";
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_strTemporary.c_str(), AT_SYMLINK_FOLLOW) !=
            0)
        {
            reason = std::strerror(errno);
            m_strTemporary.clear();
            Abandon();
            return false;
        }
    }
    const bool closed = std::fclose(m_pFile) == 0;
    m_pFile = nullptr;
    if (!closed || std::rename(m_strTemporary.c_str(), m_strPath.c_str()) != 0)
    {
        reason = std::strerror(errno);
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
        unlink(m_strTemporary.c_str());
    m_strTemporary.clear();
}

bool SyncToDisk(std::FILE* file)
{
    return file != nullptr && fdatasync(fileno(file)) == 0;
}

bool LockFileExclusive(std::FILE* file)
{
    return file != nullptr && flock(fileno(file), LOCK_EX | LOCK_NB) == 0;
}

bool IsFileLockedByOther(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    // A lock taken here would be released at once by close: only asking.
    const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return locked;
}
