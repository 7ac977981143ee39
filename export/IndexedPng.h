#pragma once

#include <cstdint>
#include <cstdio>

// Writes an 8-bit palette PNG: `pixels` width x height indices, rows width
// apart; `palette` 256 entries of red, green, blue, each entry
// `entryBytes` long (3 for plain triples, 4 for the video's red, green, blue,
// spare). False when libpng failed or memory ran out.
bool WriteIndexedPng(std::FILE* file, const std::uint8_t* pixels, int width, int height,
                     const std::uint8_t* palette, int entryBytes);
