#pragma once

#include "BlockDictionary.h"
#include "ChunkedTable.h"
#include "video/Video.h"

// A video's tables, out of its public header: how they are laid out in
// memory and how blocks are found again is nobody's business but the video's.
struct VideoTables
{
    using FrameTable = CChunkedTable<FrameRecord, 16>; // 1 MiB per chunk
    using PaletteTable = CChunkedTable<Palette, 6>;    // 64 KiB per chunk

    NodeTable nodes;
    CBlockDictionary dictionary;
    PaletteTable palettes;
    FrameTable frames;
};
