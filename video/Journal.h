#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CVideo;

// The recording journal: while a video is recorded, every frame that the
// video takes appends what it added (its new nodes, a new palette if any,
// its frame record) to an append-only file, in one self-checking block. A
// recorder that is killed or crashes leaves the journal behind, and the
// frames in it are turned back into the ".dk2" file that Save would have
// written for them, byte for byte. The format is in docs/FORMAT.md.
//
// A frame's block goes to the system's cache in the capture tick (a few KB:
// one write); a thread of the journal's own forces the file to the disk at
// most once a second, so that the tick never waits for the disk and a power
// cut loses at most the last second.

struct JournalHeader
{
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t startMs = 0; // when the recording started, in ms since 1970 (UTC)
};

// What a journal holds, as far as its blocks are whole and undamaged.
struct JournalSummary
{
    JournalHeader header;
    std::int64_t fileBytes = 0;
    std::int64_t wholeBytes = 0; // the header and every whole block
    std::int32_t frames = 0;
    std::int32_t nodes = 0;
    std::int32_t palettes = 0;
    std::int32_t soundBlocks = 0;    // sound blocks, in order from the first
    std::uint64_t soundSamples = 0;  // the sample frames they hold
    bool cut = false; // something after the last whole block was dropped
};

class CJournalWriter
{
public:
    CJournalWriter() = default;
    ~CJournalWriter(); // closes the file and keeps it, as a crash would
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    // Creates the journal at `path` for a recording of `width` x `height`
    // pictures that starts now. False, with the reason, when it can't.
    bool Open(const std::string& path, int width, int height, std::string& reason);
    // Appends the last frame of `video` and what it added: the nodes from
    // `nodesBefore` and the palettes from `palettesBefore` on. False once a
    // write failed (the journal then stays as it was before that frame, and
    // takes nothing more); LastProblem says why.
    bool Append(const CVideo& video, std::int32_t nodesBefore, std::int32_t palettesBefore);
    // Appends block `index` of the video's sound track (the blocks go in
    // order, each once). False once a write failed, as Append.
    bool AppendSound(const CVideo& video, std::size_t index);
    // Syncs and closes; the file stays.
    void Close();
    // Closes and deletes the file: the recording is safe elsewhere.
    void Remove();

    bool IsOpen() const { return m_pFile != nullptr; }
    bool IsFailed() const { return m_bFailed; }
    const std::string& GetPath() const { return m_strPath; }
    const std::string& LastProblem() const { return m_strProblem; }

private:
    void SyncLoop();

    std::string m_strPath;
    std::string m_strProblem;
    std::FILE* m_pFile = nullptr;
    std::vector<std::uint8_t> m_block; // the block being written, kept for its capacity
    bool m_bFailed = false;
    std::int32_t m_nFrames = 0;
    std::size_t m_nSoundBlocks = 0;
    std::thread m_syncThread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    std::atomic<bool> m_bDirty{false};
};

// Reads the journal at `path` and says what it holds. False, with the
// reason, when it is no journal (or not a regular file); a journal whose
// tail is torn or damaged is true, cut after its last whole block.
bool ScanJournal(const std::string& path, JournalSummary& summary, std::string& error);
// Writes the ".dk2" file of the journal's whole frames (and its sound) to `out` (in full or
// not at all). False, with the reason, when the journal can't be read, holds
// no frame, or the file can't be written.
bool RecoverJournal(const std::string& path, const std::string& out, JournalSummary& summary,
                    std::string& error);
// The journals in `folder` that no running recorder holds, oldest first.
std::vector<std::string> ListJournals(const std::string& folder);
// The file name every journal has: "recording-START-TAG.trj", where TAG
// tells apart recordings started in the same millisecond.
std::string JournalFileName(std::int64_t startMs, long tag);
// A journal's start as people read it: "2026-12-08 10:30:00" in local time,
// or with " UTC" after it in UTC; empty for a time the system can't show.
std::string JournalStartText(std::int64_t startMs, bool local);
// True for a file name JournalFileName gives.
bool IsJournalFileName(const std::string& name);
