#include "BlockDictionary.h"

#include <cstdlib>
#include <new>

namespace
{
// Largest table: 2^31 buckets (16 GiB); the node count is a signed 32-bit
// number, so the dictionary never needs more.
constexpr std::size_t kMaxCapacity = std::size_t{1} << 31;
} // namespace

CBlockDictionary::~CBlockDictionary()
{
    Release(m_current);
    Release(m_old);
    Release(m_next);
}

bool CBlockDictionary::Allocate(Table& table, std::size_t capacity)
{
    const std::size_t segmentCount = (capacity + kSegmentMask) >> kSegmentShift;
    const std::size_t segmentLength = capacity < kSegmentSize ? capacity : kSegmentSize;
    try
    {
        table.segments.assign(segmentCount, nullptr);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    for (Bucket*& segment : table.segments)
    {
        // calloc of a large block maps fresh zero pages: nothing is written
        // up front, each page is zeroed by the system when first touched.
        segment = static_cast<Bucket*>(std::calloc(segmentLength, sizeof(Bucket)));
        if (segment == nullptr)
        {
            Release(table);
            return false;
        }
    }
    table.capacity = capacity;
    table.bits = 0;
    while ((std::size_t{1} << table.bits) < capacity)
        ++table.bits;
    return true;
}

void CBlockDictionary::Release(Table& table)
{
    for (Bucket* segment : table.segments)
        std::free(segment);
    table.segments.clear();
    table.segments.shrink_to_fit();
    table.capacity = 0;
    table.bits = 0;
}

bool CBlockDictionary::Reserve(std::size_t extra)
{
    if (extra > kMaxCapacity)
        return false;
    const std::size_t needed = m_nCount + extra;
    if (needed > kMaxCapacity / 2 + kMaxCapacity / 4)
        return false;

    // Past three eighths: get the next table ready.
    if (m_next.capacity == 0 && needed > m_current.capacity / 8 * 3)
    {
        std::size_t capacity = m_current.capacity ? m_current.capacity * 2 : kMinCapacity;
        while (capacity / 2 < needed && capacity < kMaxCapacity)
            capacity *= 2;
        if (Allocate(m_next, capacity))
            m_nPrefaultCursor = 0;
        // On failure carry on: the next Reserve tries again.
    }
    if (needed <= m_current.capacity / 2)
        return true;

    // Past half: the next table takes over. Normally it is faulted in and
    // the previous move has long ended (a move takes capacity / 2 /
    // kMigrateBatch inserts, the table reaches three eighths in capacity / 4).
    // Only small tables, where extra is large against the capacity, get here
    // early; finishing the work at once costs little then.
    if (m_next.capacity != 0 && needed <= m_next.capacity / 2)
    {
        PromoteNext();
        return true;
    }
    if (m_next.capacity != 0)
        Release(m_next); // too small for this reservation
    std::size_t capacity = m_current.capacity ? m_current.capacity * 2 : kMinCapacity;
    while (capacity / 2 < needed && capacity < kMaxCapacity)
        capacity *= 2;
    if (!Allocate(m_next, capacity))
    {
        // Keep going at a higher load while there is room; probes get longer
        // but nothing is lost.
        return needed <= m_current.capacity - m_current.capacity / 8;
    }
    PromoteNext();
    return true;
}

void CBlockDictionary::PromoteNext()
{
    FinishMigration();
    ++m_stats.grows;
    m_old = std::move(m_current);
    m_current = std::move(m_next);
    m_next = Table{};
    m_nMigrateCursor = 0;
    m_nPrefaultCursor = 0;
    if (m_old.capacity == 0)
        Release(m_old);
}

void CBlockDictionary::PrefaultSome(std::size_t pages)
{
    const std::size_t bytes = m_next.capacity * sizeof(Bucket);
    for (; pages > 0 && m_nPrefaultCursor < bytes; --pages, m_nPrefaultCursor += kPageBytes)
    {
        // Writing the zero that is already there makes the system back the
        // page now rather than at the first insert that lands on it.
        const std::size_t bucket = m_nPrefaultCursor / sizeof(Bucket);
        volatile std::uint32_t* word = &m_next.At(bucket).indexPlusOne;
        *word = 0;
    }
}

void CBlockDictionary::PlaceInCurrent(std::uint32_t hash, std::uint32_t indexPlusOne)
{
    const std::size_t mask = m_current.capacity - 1;
    for (std::size_t slot = m_current.Home(hash);; slot = (slot + 1) & mask)
    {
        Bucket& bucket = m_current.At(slot);
        if (bucket.indexPlusOne == 0)
        {
            bucket.hash = hash;
            bucket.indexPlusOne = indexPlusOne;
            return;
        }
    }
}

void CBlockDictionary::MigrateSome(std::size_t buckets)
{
    if (m_old.capacity == 0)
        return;
    std::size_t end = m_nMigrateCursor + buckets;
    if (end > m_old.capacity || end < m_nMigrateCursor)
        end = m_old.capacity;
    for (std::size_t i = m_nMigrateCursor; i < end; ++i)
    {
        const Bucket& bucket = m_old.At(i);
        if (bucket.indexPlusOne != 0)
            PlaceInCurrent(bucket.hash, bucket.indexPlusOne);
        if ((i & kSegmentMask) == kSegmentMask)
        {
            std::free(m_old.segments[i >> kSegmentShift]);
            m_old.segments[i >> kSegmentShift] = nullptr;
        }
    }
    m_nMigrateCursor = end;
    if (m_nMigrateCursor == m_old.capacity)
    {
        Release(m_old);
        m_nMigrateCursor = 0;
    }
}

std::uint32_t CBlockDictionary::FindOrInsert(const Node& key, std::uint32_t newIndex,
                                             const NodeTable& nodes)
{
    const std::uint32_t hash = NodeHash(key);
    ++m_stats.lookups;
    std::uint32_t probes = 0;

    const std::size_t mask = m_current.capacity - 1;
    std::size_t slot = m_current.Home(hash);
    for (;; slot = (slot + 1) & mask)
    {
        ++probes;
        const Bucket& bucket = m_current.At(slot);
        if (bucket.indexPlusOne == 0)
            break;
        if (bucket.hash == hash)
        {
            ++m_stats.compares;
            if (nodes[bucket.indexPlusOne - 1] == key)
            {
                m_stats.probes += probes;
                if (probes > m_stats.maxProbe)
                    m_stats.maxProbe = probes;
                return bucket.indexPlusOne - 1;
            }
        }
    }
    Bucket& empty = m_current.At(slot);

    if (m_old.capacity != 0)
    {
        // Entries below the cursor have moved already (the search above saw
        // them) and their storage may be gone, so the search of the old table
        // never visits a bucket below the cursor: it starts at the cursor when
        // the home bucket lies below it, and a probe that wraps around past
        // the end continues at the cursor. A run of occupied buckets that
        // reaches an entry at or above the cursor still reaches it that way.
        const std::size_t oldMask = m_old.capacity - 1;
        std::size_t i = m_old.Home(hash);
        if (i < m_nMigrateCursor)
            i = m_nMigrateCursor;
        bool wrapped = false;
        for (;;)
        {
            ++probes;
            const Bucket& bucket = m_old.At(i);
            if (bucket.indexPlusOne == 0)
                break;
            if (bucket.hash == hash)
            {
                ++m_stats.compares;
                if (nodes[bucket.indexPlusOne - 1] == key)
                {
                    m_stats.probes += probes;
                    if (probes > m_stats.maxProbe)
                        m_stats.maxProbe = probes;
                    return bucket.indexPlusOne - 1;
                }
            }
            i = (i + 1) & oldMask;
            if (i < m_nMigrateCursor)
            {
                if (wrapped)
                    break;
                wrapped = true;
                i = m_nMigrateCursor;
            }
        }
    }

    m_stats.probes += probes;
    if (probes > m_stats.maxProbe)
        m_stats.maxProbe = probes;
    empty.hash = hash;
    empty.indexPlusOne = newIndex + 1;
    ++m_nCount;
    MigrateSome(kMigrateBatch);
    if (m_next.capacity != 0 && ++m_nInsertsSincePrefault == kPrefaultEvery)
    {
        m_nInsertsSincePrefault = 0;
        PrefaultSome(1);
    }
    return kNotFound;
}
