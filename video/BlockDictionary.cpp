#include "private/BlockDictionary.h"

#include "private/PlatformMemory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace
{
constexpr std::size_t kSmallPageBytes = 4096;
constexpr unsigned kEntryBits = 40; // index and code

// The home comes from the top bits of the hash times a Fibonacci constant:
// the plain sum clusters (inner nodes' sums are near multiples of recent
// indices), the product spreads it. It is a bijection, so the mixed value
// stands for the hash.
std::uint32_t Mix(std::uint32_t hash)
{
    return hash * 0x9E3779B1u;
}

// For each byte of `word` equal to `byte`, the byte's high bit; nothing else.
std::uint64_t MatchBytes(std::uint64_t word, std::uint8_t byte)
{
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * byte);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The high bits of MatchBytes gathered: bit i for byte i.
std::uint32_t GatherBytes(std::uint64_t highBits)
{
    return static_cast<std::uint32_t>((highBits * 0x0002040810204081ull) >> 56);
}

// Two bits of the key that its word sum does not tell: each word weighted by
// its place, so that nodes whose sums agree because their words traded
// places mostly disagree here (common among inner nodes, whose quadrants'
// indices add up alike, and among leaves of textures drawn in 2 x 2 blocks,
// whose words are one byte four times), and a lookup reads fewer of them
// from the node table.
std::uint32_t WeightedHash(const Node& n)
{
    return n.w[0] * 0x9E3779B1u + n.w[1] * 0x85EBCA77u + n.w[2] * 0xC2B2AE3Du +
           n.w[3] * 0x27D4EB2Fu;
}

std::uint32_t Fingerprint(std::uint32_t weighted)
{
    return weighted >> 30;
}

constexpr std::uint32_t kUsedMask = 0xFF;
constexpr unsigned kFingerprintShift = 8;

std::uint32_t SlotFingerprint(std::uint32_t meta, std::size_t slot)
{
    return (meta >> (kFingerprintShift + 2 * slot)) & 3u;
}

bool SameNode(const Node& a, const Node& b)
{
    // Both halves at once: one branch, not four.
    std::uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a.w, 8);
    std::memcpy(&a1, a.w + 2, 8);
    std::memcpy(&b0, b.w, 8);
    std::memcpy(&b1, b.w + 2, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

std::size_t RoundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}
} // namespace

CBlockDictionary::~CBlockDictionary()
{
    Release(m_current);
    Release(m_old);
}

bool CBlockDictionary::Allocate(Table& table, std::size_t homes)
{
    // The overflow past the last home is as large as the homes: entries
    // never outnumber the slots of the homes (Reserve sees to that), so
    // even if every one of them were passed on, none would run off the end.
    const std::size_t bytes = RoundUp((2 * homes + 1) * sizeof(Bucket), kHugePageBytes);
    void* mapping = MapZeroedPages(bytes);
    if (mapping == nullptr)
        return false;
    table = Table{};
    table.buckets = static_cast<Bucket*>(mapping);
    table.homes = homes;
    table.mappedBytes = bytes;
    // Offsets below 2^32 >> offsetShift; indices below the slots of the
    // homes (Reserve lets no more in) and below 2^31. What is left for the
    // distance is at least 3 bits.
    table.offsetShift = static_cast<unsigned>(std::bit_width(homes) - 1);
    const auto indexBits = static_cast<unsigned>(std::bit_width(kSlots * homes - 1));
    table.indexBits = indexBits < 31 ? indexBits : 31;
    table.distanceBits = kEntryBits - table.indexBits - (32 - table.offsetShift);
    table.maxDistance = (std::uint32_t{1} << table.distanceBits) - 1;
    table.reciprocal = 1.0 / static_cast<double>(homes);
    if (homes * sizeof(Bucket) >= kHugePagesFromBytes)
        AdviseHugePages(mapping, RoundUp(homes * sizeof(Bucket), kHugePageBytes));
    return true;
}

void CBlockDictionary::Release(Table& table)
{
    UnmapPages(table.buckets, table.mappedBytes);
    table = Table{};
}

std::size_t CBlockDictionary::HeldBytes(const Table& table)
{
    const std::size_t written = RoundUp(table.writtenEnd * sizeof(Bucket), kSmallPageBytes);
    return written > table.releasedBytes ? written - table.releasedBytes : 0;
}

std::size_t CBlockDictionary::IndexLimit(const Table& table)
{
    return std::size_t{1} << table.indexBits;
}

bool CBlockDictionary::Reserve(std::size_t extra, const NodeTable& nodes)
{
    if (extra > kMaxEntries - m_nCount)
        return false;
    if (m_recentKeys == RecentKeys::Cached && !m_pRecent && m_nCount == 0)
        m_pRecent.reset(new (std::nothrow) Recent[std::size_t{1} << kRecentBits]());
    const std::size_t needed = m_nCount + extra;

    // While a move runs, `extra` inserts can all land in the old table (as
    // many as its homes have slots, and indices its entries can hold), and
    // the new one takes them and every entry still to move, below four fifths. Only small tables,
    // where `extra` is large against the capacity, fail this; ending the move at once costs little
    // then.
    if (Migrating() &&
        (m_old.entries + extra > m_old.homes * kSlots || needed > IndexLimit(m_old) ||
         m_current.entries + m_old.entries + extra > MaxEntries(m_current)))
        FinishMigration(nodes);
    if (Migrating() || needed <= MaxEntries(m_current))
        return true;

    // Past four fifths: a quarter more homes, or enough for three quarters.
    std::size_t homes = m_current.homes + m_current.homes / 4;
    const std::size_t forNeeded = needed / (kSlots * 3) * 4 + 1;
    if (homes < forNeeded)
        homes = forNeeded;
    if (homes < kMinHomes)
        homes = kMinHomes;
    Table next;
    if (!Allocate(next, homes))
    {
        // Keep going at a higher load while there is room; probes get longer
        // but nothing is lost.
        return needed <= m_current.homes * kSlots / 32 * 31 && needed <= IndexLimit(m_current);
    }
    if (m_current.homes != 0)
        ++m_stats.grows;
    m_old = m_current;
    m_current = next;
    m_nMigrateCursor = 0;
    if (m_old.entries + extra > m_old.homes * kSlots || needed > IndexLimit(m_old))
        FinishMigration(nodes);
    return true;
}

void CBlockDictionary::BackPages(Table& table, std::size_t b)
{
    if (b < table.populatedEnd)
        return;
    const std::size_t from = b / kPopulateBuckets * kPopulateBuckets;
    PopulatePages(table.buckets + from,
                  std::min(kPopulateBuckets, table.mappedBytes / sizeof(Bucket) - from) *
                      sizeof(Bucket));
    table.populatedEnd = from + kPopulateBuckets;
}

void CBlockDictionary::Put(Table& table, std::size_t b, std::uint64_t code, std::uint32_t index,
                           std::uint32_t fingerprint)
{
    Bucket& bucket = table.buckets[b];
    const std::uint32_t used = bucket.meta & kUsedMask;
    bucket.low[used] = static_cast<std::uint8_t>(code);
    bucket.word[used] = index | static_cast<std::uint32_t>((code >> 8) << table.indexBits);
    bucket.meta += 1 + (fingerprint << (kFingerprintShift + 2 * used));
    ++table.entries;
    if (b >= table.writtenEnd)
    {
        // The table is written from its start up, the move's image ahead of
        // the rest: its next pages are backed in one step as it gets there.
        BackPages(table, b);
        table.writtenEnd = b + 1;
    }
}

void CBlockDictionary::Enter(Table& table, std::uint32_t mixed, std::uint32_t index,
                             std::uint32_t fingerprint)
{
    const Location at = Locate(table, mixed);
    std::size_t b = at.home;
    while ((table.buckets[b].meta & kUsedMask) == kSlots)
        ++b;
    Put(table, b, Code(table, at.offset, b - at.home), index, fingerprint);
}

void CBlockDictionary::MigrateSome(std::size_t buckets, const NodeTable& nodes,
                                   std::uint32_t newIndex, std::uint32_t newHash)
{
    if (!Migrating())
        return;
    const std::uint32_t indexMask = static_cast<std::uint32_t>(IndexLimit(m_old) - 1);
    bool lastFull = false;
    std::size_t done = 0;
    // The old buckets run to the last one written (a bucket of the overflow,
    // or an untouched home below it, is zero: nothing to move).
    const std::size_t end = m_old.writtenEnd;
    const double scale = static_cast<double>(m_current.homes) * m_old.reciprocal;
    const std::size_t lastBucket = m_current.mappedBytes / sizeof(Bucket) - 2;
    for (; m_nMigrateCursor < end && (done < buckets || lastFull); ++m_nMigrateCursor, ++done)
    {
        // The entries of an old bucket go to the new buckets about its image
        // (homes keep the order of the hashes at any count), so those of the
        // buckets a few steps on are asked for now.
        const auto ahead = std::min(
            static_cast<std::size_t>(static_cast<double>(m_nMigrateCursor + kMoveAhead) * scale),
            lastBucket);
        __builtin_prefetch(&m_current.buckets[ahead], 1);
        __builtin_prefetch(&m_current.buckets[ahead + 1], 1);
        // Their pages are backed before the move reaches them: a read of a
        // page not yet backed would fault once for the read and again for
        // the write, and a request for a page not backed is dropped.
        BackPages(m_current, ahead + 1);
        const Bucket& bucket = m_old.buckets[m_nMigrateCursor];
        const std::uint32_t used = bucket.meta & kUsedMask;
        for (std::size_t s = 0; s < used; ++s)
        {
            const std::uint32_t word = bucket.word[s];
            const std::uint32_t index = word & indexMask;
            const std::uint64_t code =
                (static_cast<std::uint64_t>(word >> m_old.indexBits) << 8) | bucket.low[s];
            const auto distance = static_cast<std::uint32_t>(code & m_old.maxDistance);
            std::uint32_t mixed = 0;
            if (distance < m_old.maxDistance)
            {
                // The smallest mixed value whose x lies in the window the
                // home and the offset give; the window is no wider than the
                // step between the x of consecutive values, so it is the one.
                const std::uint64_t home = m_nMigrateCursor - distance;
                const std::uint64_t lower =
                    (home << 32) + ((code >> m_old.distanceBits) << m_old.offsetShift);
                // A product with the reciprocal comes within a few of it
                // (lower has 60 bits, a double 53); steps settle it exactly.
                auto q = static_cast<std::uint64_t>(
                    static_cast<std::int64_t>(static_cast<double>(lower) * m_old.reciprocal));
                while (q * m_old.homes < lower)
                    ++q;
                while (q > 0 && (q - 1) * m_old.homes >= lower)
                    --q;
                mixed = static_cast<std::uint32_t>(q);
            }
            else
                mixed = Mix(index == newIndex ? newHash : NodeHash(nodes[index]));
            Enter(m_current, mixed, index, SlotFingerprint(bucket.meta, s));
        }
        m_stats.moved += used;
        m_old.entries -= used;
        lastFull = used == kSlots;
    }
    if (m_nMigrateCursor >= end)
    {
        Release(m_old);
        m_nMigrateCursor = 0;
        return;
    }
    const std::size_t passed = m_nMigrateCursor * sizeof(Bucket) / kReleaseBytes * kReleaseBytes;
    if (passed > m_old.releasedBytes)
    {
        ReleasePages(reinterpret_cast<std::uint8_t*>(m_old.buckets) + m_old.releasedBytes,
                     passed - m_old.releasedBytes);
        m_old.releasedBytes = passed;
    }
}

bool CBlockDictionary::InOld(std::uint32_t mixed, Location& at) const
{
    // Keys whose old home the move has passed are in the new table, with
    // every entry of their run of buckets; the others are in the old one.
    if (Migrating())
    {
        at = Locate(m_old, mixed);
        if (at.home >= m_nMigrateCursor)
            return true;
    }
    at = Locate(m_current, mixed);
    return false;
}

void CBlockDictionary::Prefetch(const Node& key) const
{
    Location at{};
    const Table& table = InOld(Mix(NodeHash(key)), at) ? m_old : m_current;
    __builtin_prefetch(&table.buckets[at.home]);
}

std::uint32_t CBlockDictionary::Matches(const Bucket& bucket, std::uint8_t low, std::uint32_t used)
{
    std::uint64_t first = 0;
    std::uint32_t second = 0;
    std::memcpy(&first, bucket.low, 8);
    std::memcpy(&second, bucket.low + 8, 4);
    // Only the used slots: an unused one (0) may look like a match.
    return (GatherBytes(MatchBytes(first, low)) | (GatherBytes(MatchBytes(second, low)) << 8)) &
           ((1u << used) - 1);
}

void CBlockDictionary::ChooseRecent()
{
    if (m_bRecentOn)
    {
        m_bRecentOn = m_nStretchHits * kRecentShare >= kRecentStretch;
        if (!m_bRecentOn)
            m_nRestLeft = kRecentRest;
    }
    else
        m_bRecentOn = --m_nRestLeft == 0;
    m_nStretchLeft = kRecentStretch;
    m_nStretchHits = 0;
}

std::uint32_t CBlockDictionary::FindOrInsert(const Node& key, std::uint32_t newIndex,
                                             const NodeTable& nodes)
{
    const std::uint32_t weighted = WeightedHash(key);
    ++m_stats.lookups;
    if (--m_nStretchLeft == 0)
        ChooseRecent();
    Recent* recent = nullptr;
    if (m_bRecentOn && m_pRecent)
    {
        recent = &m_pRecent[weighted >> (32 - kRecentBits)];
        if (recent->tag != 0 && SameNode(recent->key, key))
        {
            ++m_stats.recent;
            ++m_nStretchHits;
            return recent->tag - 1;
        }
    }
    const std::uint32_t hash = NodeHash(key);
    const std::uint32_t mixed = Mix(hash);
    const std::uint32_t fingerprint = Fingerprint(weighted);

    Location at{};
    Table& table = InOld(mixed, at) ? m_old : m_current;
    const unsigned indexBits = table.indexBits;
    const std::uint32_t indexMask = static_cast<std::uint32_t>(IndexLimit(table) - 1);
    std::uint32_t probes = 0;
    const auto counted = [this, &probes]
    {
        m_stats.probes += probes;
        if (probes > m_stats.maxProbe)
            m_stats.maxProbe = probes;
    };
    std::size_t b = at.home;
    std::uint64_t code = 0;
    for (;; ++b)
    {
        ++probes;
        const Bucket* bucket = &table.buckets[b];
        code = Code(table, at.offset, b - at.home);
        const auto high = static_cast<std::uint32_t>(code >> 8);
        const std::uint32_t meta = bucket->meta;
        const std::uint32_t used = meta & kUsedMask;
        for (std::uint32_t match = Matches(*bucket, static_cast<std::uint8_t>(code), used);
             match != 0; match &= match - 1)
        {
            const auto s = static_cast<std::size_t>(std::countr_zero(match));
            const std::uint32_t word = bucket->word[s];
            if ((word >> indexBits) != high || SlotFingerprint(meta, s) != fingerprint)
                continue;
            ++m_stats.compares;
            const std::uint32_t index = word & indexMask;
            if (SameNode(nodes[index], key))
            {
                counted();
                if (recent != nullptr)
                    *recent = Recent{key, index + 1};
                return index;
            }
        }
        if (used < kSlots)
            break;
    }

    counted();
    Put(table, b, code, newIndex, fingerprint);
    if (recent != nullptr)
        *recent = Recent{key, newIndex + 1};
    ++m_nCount;
    if (Migrating() && ++m_nInsertsSinceMove == kInsertsPerMove)
    {
        m_nInsertsSinceMove = 0;
        MigrateSome(1, nodes, newIndex, hash);
    }
    return kNotFound;
}
