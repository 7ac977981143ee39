#pragma once

#include "ChunkedTable.h"
#include "video/DictionaryStats.h"
#include "video/Node.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// The encoder's block dictionary: node content -> node index, for 16-byte keys
// that live in the node table. The key itself is never stored: it is compared
// in the node table. What the dictionary holds per entry is 5 bytes: the node's
// index, and the rest of the key's mixed hash beyond what the entry's place in
// the table tells, so that a lookup reads a node only when the whole hash
// matches, and a move to a larger table reads no node at all; and 2 bits of a
// second hash, a fingerprint that weighs each word by its place, in the spare
// bits of the bucket's slot count. Nodes whose words sum alike are common
// (quadrant indices that add up alike, texture leaves whose words are one
// byte four times): the fingerprint spares three in four of their reads.
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
// full, so no search needs both. The old table goes back to the system 256 KiB
// at a time behind the cursor (each step costs a flush of the address
// translations, which under a hypervisor costs as much as many pages of
// moving), and the new one, backed 64 KiB at a time ahead of its writes, is
// written only up to about the cursor's image, so the two hold little more
// than the new table alone will. A move ends within twice as many inserts as the old table has
// buckets; by then the buckets not yet moved are at most 0.97 full, and the
// new table starts at most 0.77 full. That is about 7 bytes of buckets per
// entry at every moment (64 bytes for 12 entries 0.77 to 0.8 full, and the
// pages the move holds besides).
//
// In front of the table sits a small cache of the keys last looked up, by a
// hash of their own: 8 Ki keys with their indices, 160 KiB, which stay in
// the processor's cache where the table and the nodes would not. Where the
// same blocks come back frame after frame at new places (a map scrolled a
// pixel at a time, whose every leaf moved but was seen before) a lookup then
// costs one read instead of a bucket's and a node's, one after the other,
// and often another node's whose words sum alike. A key's index never
// changes, so what the cache says is what the table would. Where blocks
// don't come back (noise) the cache answers nothing and its reads and writes
// cost about a tenth of a lookup: while fewer than one lookup in 8 of a
// stretch of 64 Ki finds its key there, the cache is left out for the next
// seven stretches and then tried again.
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

    // Whether lookups go through the cache of recent keys first (see above);
    // without it every lookup searches the table, which the tests use to see
    // that both answer alike.
    enum class RecentKeys
    {
        Cached,
        Searched
    };

    explicit CBlockDictionary(RecentKeys recent = RecentKeys::Cached) : m_recentKeys(recent) {}
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

    // Asks for the home bucket of `key`, to be looked up soon: the lookups of
    // a run of keys then wait for memory together instead of one after
    // another. A hint only; it changes nothing.
    void Prefetch(const Node& key) const;

    std::size_t Size() const { return m_nCount; }
    // Entries the current table takes before it grows.
    std::size_t Capacity() const { return MaxEntries(m_current); }
    bool Migrating() const { return m_old.buckets != nullptr; }
    // Bytes of bucket pages written and not handed back, in both tables, and
    // the cache of recent keys: what the dictionary holds resident, counted
    // in small pages.
    std::size_t HeldBytes() const
    {
        return HeldBytes(m_current) + HeldBytes(m_old) + (m_pRecent ? kRecentBytes : 0);
    }
    const Stats& GetStats() const { return m_stats; }
    void ResetStats() { m_stats = Stats{}; }

private:
    static constexpr std::size_t kSlots = 12;

    struct Recent
    {
        Node key;
        std::uint32_t tag; // the key's index + 1; 0: empty
    };
    static constexpr unsigned kRecentBits = 13;
    static constexpr std::size_t kRecentBytes = sizeof(Recent) << kRecentBits;
    static constexpr std::uint32_t kRecentStretch = 1u << 16; // lookups
    static constexpr std::uint32_t kRecentShare = 8;          // one lookup in this many must hit
    static constexpr std::uint32_t kRecentRest = 7; // stretches left out after one that didn't

    struct Bucket
    {
        std::uint8_t low[kSlots]; // each entry's code, its low byte
        // Slots used, from the first, in the low 8 bits; above them each
        // entry's fingerprint, 2 bits a slot.
        std::uint32_t meta;
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
        std::size_t populatedEnd = 0;  // buckets below this may have been backed
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
    static constexpr std::size_t kMoveAhead = 6;      // old buckets between a move and its prefetch
    static constexpr std::size_t kPopulateBuckets =
        1024; // 64 KiB, backed at once as writing reaches them
    // Tables from this size on ask for huge pages: the huge page being
    // filled, whole from its first write, then costs at most 0.5 bytes per
    // entry.
    static constexpr std::size_t kHugePagesFromBytes = std::size_t{64} << 20;
    // The old table goes back to the system in steps of this many bytes as
    // the move passes them (a step splits a huge page).
    static constexpr std::size_t kReleaseBytes = std::size_t{256} << 10;

    static std::size_t MaxEntries(const Table& table) { return table.homes * kSlots / 5 * 4; }
    static std::size_t HeldBytes(const Table& table);
    static std::size_t IndexLimit(const Table& table); // indices the table can hold
    static bool Allocate(Table& table, std::size_t homes);
    static void Release(Table& table);
    // Backs the 64 KiB of pages bucket `b` lies in, unless the backing has passed it.
    static void BackPages(Table& table, std::size_t b);
    // Writes `index` with `code` and `fingerprint` into the first free slot of bucket `b`.
    static void Put(Table& table, std::size_t b, std::uint64_t code, std::uint32_t index,
                    std::uint32_t fingerprint);
    // Enters `index`, whose mixed hash is `mixed`, in the first bucket with
    // room from its home on.
    static void Enter(Table& table, std::uint32_t mixed, std::uint32_t index,
                      std::uint32_t fingerprint);
    // The used slots of `bucket` whose code's low byte is `low`, bit i for slot i.
    static std::uint32_t Matches(const Bucket& bucket, std::uint8_t low, std::uint32_t used);
    // Whether a key of mixed hash `mixed` is in (or goes to) the old table
    // rather than the current one, and where in it.
    bool InOld(std::uint32_t mixed, Location& at) const;
    // At the end of a stretch of lookups: whether the next goes through the cache.
    void ChooseRecent();
    // Moves at least `buckets` old buckets, more to end on one that is not
    // full. The entry `newIndex`, just entered, is not in `nodes` yet: its
    // hash is `newHash` (wanted only when its distance is saturated).
    void MigrateSome(std::size_t buckets, const NodeTable& nodes,
                     std::uint32_t newIndex = kNotFound, std::uint32_t newHash = 0);
    void FinishMigration(const NodeTable& nodes) { MigrateSome(~std::size_t{0}, nodes); }

    RecentKeys m_recentKeys = RecentKeys::Cached;
    std::unique_ptr<Recent[]> m_pRecent; // the cache of recent keys; none when memory ran out
    bool m_bRecentOn = true;             // this stretch's lookups use the cache
    std::uint32_t m_nStretchLeft = kRecentStretch;
    std::uint32_t m_nStretchHits = 0;
    std::uint32_t m_nRestLeft = 0; // stretches still left out
    Table m_current;
    Table m_old;                      // the table being moved out, while Migrating()
    std::size_t m_nMigrateCursor = 0; // old buckets below this have moved
    std::size_t m_nInsertsSinceMove = 0;
    std::size_t m_nCount = 0;
    Stats m_stats;
};
