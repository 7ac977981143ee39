#include "private/BlockDictionary.h"

#include <gtest/gtest.h>

namespace
{
// Inserts `count` distinct nodes into table and dictionary, checking after
// every insert that a sample of earlier nodes is still found at its index,
// also while the dictionary moves between tables.
void InsertAndCheck(CBlockDictionary& dictionary, NodeTable& nodes, std::size_t count,
                    Node (*make)(std::uint32_t))
{
    bool sawMigration = false;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        ASSERT_TRUE(dictionary.Reserve(1, nodes));
        ASSERT_TRUE(nodes.Reserve(1));
        const Node node = make(i);
        ASSERT_EQ(dictionary.FindOrInsert(node, i, nodes), CBlockDictionary::kNotFound) << i;
        nodes.Append(node);
        sawMigration = sawMigration || dictionary.Migrating();
        for (std::uint32_t probe : {i, i / 2, i / 3, i - i % 1024, (i * 7919u) % (i + 1)})
            ASSERT_EQ(dictionary.FindOrInsert(make(probe), 0xBAD, nodes), probe)
                << i << " " << probe;
    }
    EXPECT_EQ(dictionary.Size(), count);
    EXPECT_TRUE(sawMigration);
}

// Every test runs with the cache of recent keys and without it, where each
// lookup searches the table.
class BlockDictionary : public ::testing::TestWithParam<CBlockDictionary::RecentKeys>
{
};
} // namespace

TEST_P(BlockDictionary, FindsEveryEntryWhileGrowingAndMoving)
{
    CBlockDictionary dictionary(GetParam());
    NodeTable nodes;
    InsertAndCheck(dictionary, nodes, 300000,
                   [](std::uint32_t i) {
                       return Node{{i * 2654435761u, i, ~i, i ^ 0x5555u}};
                   });
    EXPECT_GE(dictionary.GetStats().grows, 5u);
}

TEST_P(BlockDictionary, NodesWithEqualSumsAreKeptApart)
{
    // Every node has the same word sum, the worst case for the dictionary's
    // hash: all land in one run of buckets, far longer than an entry's
    // distance from its home can say, so moving them reads their nodes (the
    // newest one, which a move can reach before it is in the node table,
    // included), and they are told apart by content.
    CBlockDictionary dictionary(GetParam());
    NodeTable nodes;
    InsertAndCheck(dictionary, nodes, 3000,
                   [](std::uint32_t i) {
                       return Node{{i, 0u - i, 7, 0}};
                   });
}

TEST_P(BlockDictionary, LargeReservationsComeUpFront)
{
    CBlockDictionary dictionary(GetParam());
    NodeTable nodes;
    ASSERT_TRUE(dictionary.Reserve(100000, nodes));
    const std::size_t capacity = dictionary.Capacity();
    EXPECT_GE(capacity, 100000u);
    ASSERT_TRUE(nodes.Reserve(100000));
    for (std::uint32_t i = 0; i < 100000; ++i)
    {
        const Node node{{i, i + 1, i + 2, i * 3}};
        ASSERT_EQ(dictionary.FindOrInsert(node, i, nodes), CBlockDictionary::kNotFound);
        nodes.Append(node);
    }
    EXPECT_EQ(dictionary.Capacity(), capacity); // no growth inside the reservation
    EXPECT_EQ(dictionary.GetStats().grows, 0u);
    EXPECT_FALSE(dictionary.Reserve(std::size_t{1} << 40, nodes));
    EXPECT_FALSE(dictionary.Reserve(CBlockDictionary::kMaxEntries, nodes));
    EXPECT_EQ(dictionary.Size(), 100000u); // refused reservations change nothing
    EXPECT_EQ(dictionary.FindOrInsert(Node{{7, 8, 9, 21}}, 0xBAD, nodes), 7u);
}

// Entries travel through several moves and both halves of a bucket's tag
// words while their neighbours are entered: a run of nodes of one sum
// stretches across the home of others, whose lookups must pass over it.
TEST_P(BlockDictionary, KeysMeetingOthersRunsAreFoundAfterEveryMove)
{
    CBlockDictionary dictionary(GetParam());
    NodeTable nodes;
    InsertAndCheck(
        dictionary, nodes, 60000,
        [](std::uint32_t i)
        {
            // One in 64 shares a sum of 5; the rest are spread.
            return i % 64 == 0 ? Node{{i, 5, 0u - i, 0}} : Node{{i * 2654435761u, i, i >> 3, 1}};
        });
    EXPECT_GE(dictionary.GetStats().grows, 10u);
    EXPECT_GT(dictionary.GetStats().moved, 60000u);
}

// The cache answers only for keys it was given: an empty slot holds zeros,
// which must not pass for the all-zero block; a slot another key took over
// sends the lookup to the table; and it answers with the same index as the
// table, for keys found and keys just entered.
TEST_P(BlockDictionary, RecentKeysAnswerAsTheTableDoes)
{
    CBlockDictionary dictionary(GetParam());
    NodeTable nodes;
    const auto enter = [&](const Node& node) -> std::uint32_t
    {
        EXPECT_TRUE(dictionary.Reserve(1, nodes));
        EXPECT_TRUE(nodes.Reserve(1));
        const auto next = static_cast<std::uint32_t>(nodes.Size());
        const std::uint32_t found = dictionary.FindOrInsert(node, next, nodes);
        if (found != CBlockDictionary::kNotFound)
            return found;
        nodes.Append(node);
        return next;
    };
    const Node zero{{0, 0, 0, 0}};
    EXPECT_EQ(enter(Node{{1, 2, 3, 4}}), 0u);
    EXPECT_EQ(enter(zero), 1u);
    EXPECT_EQ(enter(zero), 1u);
    EXPECT_EQ(nodes.Size(), 2u);
    // Far more keys than the cache has slots, looked up again and again in
    // a scrambled order: each keeps the index it was entered with.
    constexpr std::uint32_t kKeys = 40000;
    for (std::uint32_t i = 0; i < kKeys; ++i)
        ASSERT_EQ(enter(Node{{i, i * 3, 9, i >> 2}}), i + 2) << i;
    for (std::uint32_t round = 0; round < 3; ++round)
        for (std::uint32_t i = 0; i < kKeys; ++i)
        {
            const std::uint32_t key = (i * 7919u + round) % kKeys;
            ASSERT_EQ(enter(Node{{key, key * 3, 9, key >> 2}}), key + 2) << round << " " << key;
            ASSERT_EQ(enter(zero), 1u);
        }
    EXPECT_EQ(nodes.Size(), kKeys + 2);
    const auto& stats = dictionary.GetStats();
    if (GetParam() == CBlockDictionary::RecentKeys::Cached)
        EXPECT_GT(stats.recent, stats.lookups / 4);
    else
        EXPECT_EQ(stats.recent, 0u);
}

// Where keys don't come back the cache is left out, and taken up again once
// they do: after 2^17 new keys, a few keys looked up over and over are
// answered by the cache again within eight stretches of 2^16 lookups.
TEST(BlockDictionaryRecentKeys, AreLeftOutWhereKeysDontComeBackAndTakenUpAgain)
{
    CBlockDictionary dictionary;
    NodeTable nodes;
    constexpr std::uint32_t kNew = 1u << 17;
    ASSERT_TRUE(dictionary.Reserve(kNew + 16, nodes));
    ASSERT_TRUE(nodes.Reserve(kNew + 16));
    for (std::uint32_t i = 0; i < kNew; ++i)
    {
        const Node node{{i * 2654435761u, i, 3, 4}};
        ASSERT_EQ(dictionary.FindOrInsert(node, i, nodes), CBlockDictionary::kNotFound);
        nodes.Append(node);
    }
    const auto repeat = [&](std::uint32_t lookups)
    {
        const std::uint64_t before = dictionary.GetStats().recent;
        for (std::uint32_t i = 0; i < lookups; ++i)
        {
            const std::uint32_t key = i % 16;
            EXPECT_EQ(dictionary.FindOrInsert(Node{{key * 2654435761u, key, 3, 4}}, 0xBAD, nodes),
                      key);
        }
        return dictionary.GetStats().recent - before;
    };
    // The new keys fill two stretches; the first finds nothing in the cache,
    // which stays out for the seven after it: the second and six more.
    EXPECT_EQ(repeat(6u << 16), 0u);
    EXPECT_GT(repeat(3u << 16), 1u << 16);
}

INSTANTIATE_TEST_SUITE_P(
    RecentKeys, BlockDictionary,
    ::testing::Values(CBlockDictionary::RecentKeys::Cached, CBlockDictionary::RecentKeys::Searched),
    [](const auto& param)
    { return param.param == CBlockDictionary::RecentKeys::Cached ? "Cached" : "Searched"; });
