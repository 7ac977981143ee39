#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 with the polynomial of zip and PNG (reflected 0xEDB88320, the
// register inverted before and after), as the journal's blocks and PNG's
// chunks carry it. `crc` is the result for the bytes before these, so that a
// checksum can be taken over pieces: Crc32(b, nb, Crc32(a, na)) is the CRC
// of a followed by b; 0 starts afresh.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);
