#pragma once

#include "ChunkedTable.h"
#include "video/DictionaryStats.h"
#include "video/Node.h"

#include <cstddef>
#include <cstdint>

// The encoder's block dictionary: node content -> node index, for 16-byte keys
// that live in the node table. The key itself is never stored: it is compared
// in the node table. What the dictionary holds per entry is 5 bytes: the node's
// index, and the rest of the key's mixed hash beyond what the entry's place in
// the table tells, so that a lookup reads a node only when the whole hash
// matches, and a move to a larger table reads no node at all.
//
// Twelve entries share a 64-byte bucket, one cache line. A key's home bucket
// is its mixed hash scaled to the bucket count: x = mixed * homes, the home is
// x's high word and x's low word, shifted down by log2(homes), tells mixed
// within the home (the offset; at least as fine as one mixed value). A full
// bucket passes new entries on to the next one (linear probing by buckets);
// no entry is ever removed, so a bucket that is not full ends every search
// that reaches it. An entry keeps, in 40 bits, its index and a code of its
// offset and its distance from its home (saturating at the largest value the
// field holds): the index needs about log2(homes) + 4 bits, the offset
// 32 - log2(homes), and the distance has what is left, at least 3 bits, so
// the split is chosen per table. The code's low byte sits apart, twelve to a
// bucket, and is matched against a lookup's for all twelve at once.
//
// Growth never holds two full tables. At four fifths full the table grows by
// a quarter: the larger table is mapped (the system backs its pages only as
// they are written) and the old buckets move into it in order, one with every
// second insert, without reading a node (an entry's home and offset give its
// mixed hash back) unless its distance saturated. Keys whose old home lies
// below the move's cursor are looked up and entered in the new table, the
// others in the old one; the cursor stops only after a bucket that is not
// full, so no search needs both. The old table goes back to the system 64 KiB
// at a time behind the cursor, and the new one is written only up to about
// the cursor's image, so the two hold little more than the new table alone
// will. A move ends within twice as many inserts as the old table has
// buckets; by then the buckets not yet moved are at most 0.97 full, and the
// new table starts at most 0.77 full. That is about 7 bytes of buckets per
// entry at every moment (64 bytes for 12 entries 0.77 to 0.8 full, and the
// pages the move holds besides).
//
// Find and insert allocate nothing; all allocation happens in Reserve(), which
// the video calls once per frame before it encodes, so running out of memory
// is reported before anything has changed.
// The node table the dictionary's codes point into: 2 MiB chunks.
using NodeTable = CChunkedTable<Node, 17>;

class CBlockDictionary
{
public:
    static constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;
    // Node indices are signed 32-bit numbers.
    static constexpr std::size_t kMaxEntries = 0x7FFFFFFF;

    using Stats = DictionaryStats;

    CBlockDictionary() = default;
    ~CBlockDictionary();
    CBlockDictionary(const CBlockDictionary&) = delete;
    CBlockDictionary& operator=(const CBlockDictionary&) = delete;

    // Makes sure `extra` more inserts need no allocation. False when memory ran
    // out; the dictionary is unchanged and still usable then. `nodes` is the
    // table the stored indices refer to: a move that must end at once reads
    // the hashes of the entries it moves there.
    bool Reserve(std::size_t extra, const NodeTable& nodes);

    // Returns the index stored for a node equal to `key`; otherwise enters
    // `newIndex` for it and returns kNotFound. Requires room made by Reserve(),
    // and `newIndex` equal to Size(): the entries are the nodes in the order
    // they are appended. `nodes` is the table the stored indices refer to; it
    // holds every entry but the new one.
    std::uint32_t FindOrInsert(const Node& key, std::uint32_t newIndex, const NodeTable& nodes);

    std::size_t Size() const { return m_nCount; }
    // Entries the current table takes before it grows.
    std::size_t Capacity() const { return MaxEntries(m_current); }
    bool Migrating() const { return m_old.buckets != nullptr; }
    // Bytes of bucket pages written and not handed back, in both tables: what
    // the dictionary holds resident, counted in small pages.
    std::size_t HeldBytes() const { return HeldBytes(m_current) + HeldBytes(m_old); }
    const Stats& GetStats() const { return m_stats; }
    void ResetStats() { m_stats = Stats{}; }

private:
    static constexpr std::size_t kSlots = 12;

    struct Bucket
    {
        std::uint8_t low[kSlots];   // each entry's code, its low byte
        std::uint32_t used;         // slots used, from the first
        std::uint32_t word[kSlots]; // the index, the code's higher bits above it
    };
    static_assert(sizeof(Bucket) == 64);

    struct Table
    {
        Bucket* buckets = nullptr;
        std::size_t homes = 0;       // buckets a key's home lies in
        std::size_t mappedBytes = 0; // the mapping: the homes and an overflow of as many
        std::size_t entries = 0;
        std::size_t writtenEnd = 0;    // buckets below this may have been written
        std::size_t releasedBytes = 0; // the mapping's first bytes, handed back
        unsigned offsetShift = 0;      // log2(homes), rounded down
        unsigned indexBits = 0;        // the low bits of an index word
        unsigned distanceBits = 0;     // the low bits of a code
        std::uint32_t maxDistance = 0; // saturated: the home is not known
        double reciprocal = 0;         // 1 / homes
    };

    // Where a key goes in `table`: its home, and its offset within the home.
    struct Location
    {
        std::size_t home;
        std::uint64_t offset;
    };
    static Location Locate(const Table& table, std::uint32_t mixed)
    {
        const std::uint64_t x = static_cast<std::uint64_t>(mixed) * table.homes;
        return Location{static_cast<std::size_t>(x >> 32),
                        static_cast<std::uint32_t>(x) >> table.offsetShift};
    }
    static std::uint64_t Code(const Table& table, std::uint64_t offset, std::size_t distance)
    {
        return (offset << table.distanceBits) |
               (distance < table.maxDistance ? distance : table.maxDistance);
    }

    static constexpr std::size_t kMinHomes = 64;
    static constexpr std::size_t kInsertsPerMove = 2; // inserts per old bucket moved
    // Tables from this size on ask for huge pages: the huge page being
    // filled, whole from its first write, then costs at most 0.5 bytes per
    // entry.
    static constexpr std::size_t kHugePagesFromBytes = std::size_t{64} << 20;
    // The old table goes back to the system in steps of this many bytes as
    // the move passes them (a step splits a huge page).
    static constexpr std::size_t kReleaseBytes = std::size_t{64} << 10;

    static std::size_t MaxEntries(const Table& table) { return table.homes * kSlots / 5 * 4; }
    static std::size_t HeldBytes(const Table& table);
    static std::size_t IndexLimit(const Table& table); // indices the table can hold
    static bool Allocate(Table& table, std::size_t homes);
    static void Release(Table& table);
    // Writes `index` with `code` into the first free slot of bucket `b`.
    static void Put(Table& table, std::size_t b, std::uint64_t code, std::uint32_t index);
    // Enters `index`, whose mixed hash is `mixed`, in the first bucket with
    // room from its home on.
    static void Enter(Table& table, std::uint32_t mixed, std::uint32_t index);
    // Moves at least `buckets` old buckets, more to end on one that is not
    // full. The entry `newIndex`, just entered, is not in `nodes` yet: its
    // hash is `newHash` (wanted only when its distance is saturated).
    void MigrateSome(std::size_t buckets, const NodeTable& nodes,
                     std::uint32_t newIndex = kNotFound, std::uint32_t newHash = 0);
    void FinishMigration(const NodeTable& nodes) { MigrateSome(~std::size_t{0}, nodes); }

    Table m_current;
    Table m_old;                      // the table being moved out, while Migrating()
    std::size_t m_nMigrateCursor = 0; // old buckets below this have moved
    std::size_t m_nInsertsSinceMove = 0;
    std::size_t m_nCount = 0;
    Stats m_stats;
};
