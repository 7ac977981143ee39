#include "base/Crc32.h"

#include <array>

namespace
{
constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n)
    {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
// Built by the compiler: no first-use guard on the checksum's path.
constexpr std::array<std::uint32_t, 256> kTable = MakeTable();
} // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = kTable[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}
