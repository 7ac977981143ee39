#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Opening the files that readers and writers of videos and pictures work on.
//
// A reader takes regular files only: a FIFO with no writer would block the
// open, and a device or a directory is never a video. The check comes before
// the open, so nothing blocks.
//
// A writer never leaves a half-written file under the target's name, nor a
// partial file beside it: the bytes go to a file without a name (Linux's
// O_TMPFILE) in the target's folder, which is linked into place only when
// every byte is written and synced. Where the file system has no unnamed
// files, a temporary "TARGET.saving" is used instead and renamed over the
// target; a stale one left by a killed run is removed first.

// File names are UTF-8 texts on every platform: the Windows programs declare
// UTF-8 as their code page, so the C library's narrow names are UTF-8 there
// too. The file system library takes narrow names in another code page on
// Windows, so paths for it are made, and read back, through these two.
inline std::filesystem::path Utf8Path(const std::string& text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8Text(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Opens `path` for binary reading. Null when it is not a regular file or
// can't be opened; `reason` then says why in the system's words ("No such
// file or directory", "Permission denied") or "is a directory" / "not a
// regular file".
std::FILE* OpenRegularFile(const std::string& path, std::string& reason);

class CAtomicFile
{
public:
    // `sync`: force the bytes to the disk before the file takes its name, so
    // that even a power cut never leaves an empty file there (a save); off
    // where many small files are written and a crash may lose the last
    // (exported frames).
    explicit CAtomicFile(std::string path, bool sync = true);
    // Drops what was written unless Commit succeeded.
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // The stream to write to; null, with the reason, when the target's
    // folder takes no new file.
    std::FILE* Open(std::string& reason);
    // Flushes, syncs and closes the stream, then gives the file the target's
    // name, replacing an earlier file of that name. False, with the reason
    // and nothing left behind, on any failure.
    bool Commit(std::string& reason);
    // Closes and forgets the file.
    void Abandon();

private:
    // Commit's first step on every system: flushes the stream and, when
    // asked to, syncs it. False, with the reason, the file abandoned, on a
    // failure.
    bool FlushAndSync(std::string& reason);

    std::string m_strPath;
    std::string m_strTemporary; // the named temporary, when one is used
    std::FILE* m_pFile = nullptr;
    bool m_bSync = true;
    bool m_bDeleteOnClose = false; // Windows: the temporary goes with its handle
};

// Forces what was written to `file` to the disk (its data; the name is the
// folder's business). False when the system refused.
bool SyncToDisk(std::FILE* file);
// Takes an exclusive advisory lock on the open file for as long as it stays
// open; false where the system has none or another holder has it.
bool LockFileExclusive(std::FILE* file);
// True while another open file holds the lock LockFileExclusive takes.
bool IsFileLockedByOther(const std::string& path);
