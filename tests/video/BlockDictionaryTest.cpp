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
} // namespace

TEST(BlockDictionary, FindsEveryEntryWhileGrowingAndMoving)
{
    CBlockDictionary dictionary;
    NodeTable nodes;
    InsertAndCheck(dictionary, nodes, 300000,
                   [](std::uint32_t i) {
                       return Node{{i * 2654435761u, i, ~i, i ^ 0x5555u}};
                   });
    EXPECT_GE(dictionary.GetStats().grows, 5u);
}

TEST(BlockDictionary, NodesWithEqualSumsAreKeptApart)
{
    // Every node has the same word sum, the worst case for the dictionary's
    // hash: all land in one run of buckets, far longer than an entry's
    // distance from its home can say, so moving them reads their nodes (the
    // newest one, which a move can reach before it is in the node table,
    // included), and they are told apart by content.
    CBlockDictionary dictionary;
    NodeTable nodes;
    InsertAndCheck(dictionary, nodes, 3000,
                   [](std::uint32_t i) {
                       return Node{{i, 0u - i, 7, 0}};
                   });
}

TEST(BlockDictionary, LargeReservationsComeUpFront)
{
    CBlockDictionary dictionary;
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
TEST(BlockDictionary, KeysMeetingOthersRunsAreFoundAfterEveryMove)
{
    CBlockDictionary dictionary;
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
