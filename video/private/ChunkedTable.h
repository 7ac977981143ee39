#pragma once

#include "PlatformMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

// An append-only array of trivially copyable records kept in fixed-size chunks.
// Growing never moves a record, so appending to a table of tens of millions of
// nodes costs the same as appending to an empty one: there is no reallocation
// that copies the whole table. Chunks are allocated ahead of use by Reserve(),
// which is the only operation that can fail for lack of memory; Append() after
// a successful Reserve() cannot fail.
//
// Chunks of a huge page or more are mapped from the system, aligned to huge
// pages, and from the kHugePagesFromChunk-th on they are offered to the
// system for huge pages (AdviseHugePages, which asks only where wanted): a
// large table then takes one fault per 2 MiB instead of one per 4 KiB. A huge
// page is backed in full at its first touch, so the first chunks keep small
// pages and a short video holds no megabytes it never fills.
template <typename T, unsigned kChunkShift, std::size_t kHugePagesFromChunk = 32>
class CChunkedTable
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkShift;
    static constexpr std::size_t kChunkMask = kChunkSize - 1;
    static constexpr std::size_t kChunkBytes = kChunkSize * sizeof(T);
    static constexpr bool kMapped = kChunkBytes % kHugePageBytes == 0;
    // Records backed at once as the table's end enters them: 64 KiB, a
    // small lead over what is used.
    static constexpr std::size_t kPopulateRecords = (std::size_t{64} << 10) / sizeof(T);
    static_assert(kChunkSize % kPopulateRecords == 0);

    CChunkedTable() = default;
    CChunkedTable(const CChunkedTable&) = delete;
    CChunkedTable& operator=(const CChunkedTable&) = delete;

    std::size_t Size() const { return m_nSize; }
    std::size_t Capacity() const { return m_chunks.size() * kChunkSize; }

    const T& operator[](std::size_t i) const { return m_chunks[i >> kChunkShift][i & kChunkMask]; }
    T& operator[](std::size_t i) { return m_chunks[i >> kChunkShift][i & kChunkMask]; }

    // Makes room for `extra` more records. False (and nothing changed that a
    // reader could see) when memory runs out.
    bool Reserve(std::size_t extra)
    {
        if (extra > SIZE_MAX - m_nSize)
            return false;
        const std::size_t needed = m_nSize + extra;
        while (Capacity() < needed)
        {
            try
            {
                if (m_chunks.size() == m_chunks.capacity())
                    m_chunks.reserve(m_chunks.size() < 64 ? 64 : m_chunks.size() * 2);
            }
            catch (const std::bad_alloc&)
            {
                return false;
            }
            // Default-initialised, not value-initialised: large chunks come
            // from fresh pages that the kernel zeroes on first touch, so no
            // chunk is written in full before it is used. (Mapped pages hold
            // the records implicitly: they are trivially copyable.)
            std::unique_ptr<T[], ChunkDeleter> chunk;
            if constexpr (kMapped)
            {
                chunk.reset(static_cast<T*>(MapZeroedPages(kChunkBytes)));
                if (chunk && m_chunks.size() >= kHugePagesFromChunk)
                    AdviseHugePages(chunk.get(), kChunkBytes);
            }
            else
                chunk.reset(new (std::nothrow) T[kChunkSize]);
            if (!chunk)
                return false;
            m_chunks.push_back(std::move(chunk)); // cannot throw: capacity reserved
        }
        return true;
    }

    // Requires room made by Reserve().
    void Append(const T& value)
    {
        // Mapped chunks are backed a step at a time as the end reaches them.
        if constexpr (kMapped)
            if ((m_nSize & (kPopulateRecords - 1)) == 0)
                PopulatePages(&(*this)[m_nSize], kPopulateRecords * sizeof(T));
        (*this)[m_nSize] = value;
        ++m_nSize;
    }

    // Drops records from the end (used to undo a partially applied step).
    void Truncate(std::size_t size)
    {
        if (size < m_nSize)
            m_nSize = size;
    }

    // Contiguous runs of the table, for block-wise file input and output.
    std::size_t ChunkCount() const { return (m_nSize + kChunkMask) >> kChunkShift; }
    const T* ChunkData(std::size_t c) const { return m_chunks[c].get(); }
    T* ChunkData(std::size_t c) { return m_chunks[c].get(); }
    std::size_t ChunkLength(std::size_t c) const
    {
        const std::size_t begin = c << kChunkShift;
        return m_nSize - begin < kChunkSize ? m_nSize - begin : kChunkSize;
    }

    // For readers that fill reserved space in place and then publish it:
    // room for up to RoomInChunk() records starts at EndData().
    T* EndData() { return &(*this)[m_nSize]; }
    std::size_t RoomInChunk() const { return kChunkSize - (m_nSize & kChunkMask); }
    void Grow(std::size_t count) { m_nSize += count; }

private:
    struct ChunkDeleter
    {
        void operator()(T* chunk) const
        {
            if constexpr (kMapped)
                UnmapPages(chunk, kChunkBytes);
            else
                delete[] chunk;
        }
    };

    std::vector<std::unique_ptr<T[], ChunkDeleter>> m_chunks;
    std::size_t m_nSize = 0;
};
