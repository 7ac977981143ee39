#pragma once

#include "Node.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The encoder's block dictionary: node content -> node index, for 16-byte keys
// that live in the node table. It is an open-addressing table with linear
// probing whose buckets hold only the key's hash and the node's index (8 bytes),
// so that a video of tens of millions of nodes keeps a dictionary of a few
// hundred MiB; the key itself is compared in the node table.
//
// Growth never stalls an insert. When the table passes three eighths full,
// a table of twice the size is allocated (the system maps it without writing
// it) and faulted in a page at a time with later inserts, so that its pages
// are ready when the table passes half full. It then becomes the table that
// receives inserts, and the entries of the old table move over a few buckets
// at a time with each later insert; until they all have, a lookup that misses
// in the new table searches the remaining part of the old one. Tables above
// 32 MiB are split into segments, released one by one as the move passes
// them, so no single insert pays for releasing a large block either.
//
// Find and insert allocate nothing; all allocation happens in Reserve(), which
// the video calls once per frame before it encodes, so running out of memory
// is reported before anything has changed.
class CBlockDictionary
{
public:
    static constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;

    struct Stats
    {
        std::uint64_t lookups = 0;  // FindOrInsert calls
        std::uint64_t probes = 0;   // buckets examined, both tables
        std::uint64_t compares = 0; // node comparisons (equal stored hash)
        std::uint32_t maxProbe = 0; // longest single lookup, in buckets
        std::uint64_t grows = 0;
    };

    CBlockDictionary() = default;
    ~CBlockDictionary();
    CBlockDictionary(const CBlockDictionary&) = delete;
    CBlockDictionary& operator=(const CBlockDictionary&) = delete;

    // Makes sure `extra` more inserts need no allocation. False when memory ran
    // out; the dictionary is unchanged and still usable then.
    bool Reserve(std::size_t extra);

    // Returns the index stored for a node equal to `key`; otherwise enters
    // `newIndex` for it and returns kNotFound. Requires room made by Reserve().
    // `nodes` is the table the stored indices refer to.
    std::uint32_t FindOrInsert(const Node& key, std::uint32_t newIndex, const NodeTable& nodes);

    std::size_t Size() const { return m_nCount; }
    std::size_t Capacity() const { return m_current.capacity; }
    bool Migrating() const { return m_old.capacity != 0; }
    const Stats& GetStats() const { return m_stats; }
    void ResetStats() { m_stats = Stats{}; }

private:
    struct Bucket
    {
        std::uint32_t hash;
        std::uint32_t indexPlusOne; // 0: empty
    };

    // Buckets of one table in segments of up to kSegmentSize.
    struct Table
    {
        std::vector<Bucket*> segments;
        std::size_t capacity = 0; // a power of two, or 0
        unsigned bits = 0;        // log2(capacity)

        Bucket& At(std::size_t i) const { return segments[i >> kSegmentShift][i & kSegmentMask]; }
        std::size_t Home(std::uint32_t hash) const
        {
            // Fibonacci mixing: the plain sum clusters (inner nodes' sums are
            // near multiples of recent indices), the product spreads it.
            return static_cast<std::uint32_t>(hash * 0x9E3779B1u) >> (32 - bits);
        }
    };

    // 2^22 buckets = 32 MiB: above the largest block the C library serves
    // from its heap, so every segment is freshly mapped and zero, never
    // cleared in one go.
    static constexpr unsigned kSegmentShift = 22;
    static constexpr std::size_t kSegmentSize = std::size_t{1} << kSegmentShift;
    static constexpr std::size_t kSegmentMask = kSegmentSize - 1;
    static constexpr std::size_t kMinCapacity = 1024;
    static constexpr std::size_t kMigrateBatch = 16;  // old buckets moved per insert
    static constexpr std::size_t kPrefaultEvery = 16; // inserts per page faulted in
    static constexpr std::size_t kPageBytes = 4096;

    static bool Allocate(Table& table, std::size_t capacity);
    static void Release(Table& table);
    void MigrateSome(std::size_t buckets);
    void FinishMigration() { MigrateSome(m_old.capacity); }
    void PrefaultSome(std::size_t pages);
    void PromoteNext();
    void PlaceInCurrent(std::uint32_t hash, std::uint32_t indexPlusOne);

    Table m_current;
    Table m_old;                       // the table being moved out, while Migrating()
    std::size_t m_nMigrateCursor = 0;  // old buckets below this have moved
    Table m_next;                      // the next table, being faulted in
    std::size_t m_nPrefaultCursor = 0; // bytes of m_next faulted in
    std::size_t m_nInsertsSincePrefault = 0;
    std::size_t m_nCount = 0;
    Stats m_stats;
};
