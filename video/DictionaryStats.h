#pragma once

#include <cstdint>

// What the block dictionary counted since it was made or its counts were
// reset: how hard its lookups worked and how often it grew.
struct DictionaryStats
{
    std::uint64_t lookups = 0;  // FindOrInsert calls
    std::uint64_t recent = 0;   // of them, answered by the cache of recent keys
    std::uint64_t probes = 0;   // buckets examined
    std::uint64_t compares = 0; // node comparisons (equal tag)
    std::uint32_t maxProbe = 0; // longest single lookup, in buckets
    std::uint64_t grows = 0;    // larger tables taken (not the first)
    std::uint64_t moved = 0;    // entries moved into a larger table
};
