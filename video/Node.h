#pragma once

#include <cstdint>
#include <cstring>

// One quadtree node: read as a 4 x 4 leaf the four words hold its pixels, read
// as a larger square they hold the indices of its four quadrants (top-left,
// top-right, bottom-left, bottom-right). Nothing in the node tells which: the
// side at which it is read does.
struct Node
{
    std::uint32_t w[4];
};
static_assert(sizeof(Node) == 16);

inline bool operator==(const Node& a, const Node& b)
{
    return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2] && a.w[3] == b.w[3];
}

// The dictionary's hash: the wrapping sum of the four words.
inline std::uint32_t NodeHash(const Node& n)
{
    return n.w[0] + n.w[1] + n.w[2] + n.w[3];
}

// 2^17 nodes (2 MiB, one huge page) per chunk.