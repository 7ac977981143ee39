#include "BlockDictionary.h"

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
        ASSERT_TRUE(dictionary.Reserve(1));
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
    // Every node has the same word sum, the worst case for the specified
    // hash: all land in one run of buckets and are told apart by content.
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
    ASSERT_TRUE(dictionary.Reserve(100000));
    const std::size_t capacity = dictionary.Capacity();
    EXPECT_GE(capacity, 200000u);
    NodeTable nodes;
    ASSERT_TRUE(nodes.Reserve(100000));
    for (std::uint32_t i = 0; i < 100000; ++i)
    {
        const Node node{{i, i + 1, i + 2, i * 3}};
        ASSERT_EQ(dictionary.FindOrInsert(node, i, nodes), CBlockDictionary::kNotFound);
        nodes.Append(node);
    }
    EXPECT_EQ(dictionary.Capacity(), capacity); // no growth inside the reservation
    EXPECT_FALSE(dictionary.Reserve(std::size_t{1} << 40));
}
