#pragma once

// The little-endian fields of everything the program reads and writes byte
// by byte: ".dk2" and journal records, BMP and PE headers, the game's
// variables, the display's bitmap header. Each goes through memcpy, so a
// field needs no alignment, and on a little-endian host (every one we build
// for) a load or a store is one instruction; elsewhere the bytes are
// reversed after it.

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace byteorder_detail
{
// The host's value of a little-endian one, and back: the same reversal.
template <std::unsigned_integral T> constexpr T FromLittle(T value)
{
    if constexpr (std::endian::native == std::endian::little)
        return value;
    else
    {
        T swapped = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i, value >>= 8)
            swapped = static_cast<T>((swapped << 8) | (value & 0xFFu));
        return swapped;
    }
}
} // namespace byteorder_detail

// For code written once for every width (the game's reads of a byte, a word
// and a double word).
template <std::unsigned_integral T> T LoadLe(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return byteorder_detail::FromLittle(value);
}

template <std::unsigned_integral T> void StoreLe(std::uint8_t* p, T value)
{
    value = byteorder_detail::FromLittle(value);
    std::memcpy(p, &value, sizeof value);
}

inline std::uint16_t LoadLe16(const std::uint8_t* p)
{
    return LoadLe<std::uint16_t>(p);
}
inline std::uint32_t LoadLe32(const std::uint8_t* p)
{
    return LoadLe<std::uint32_t>(p);
}
inline std::uint64_t LoadLe64(const std::uint8_t* p)
{
    return LoadLe<std::uint64_t>(p);
}

inline void StoreLe16(std::uint8_t* p, std::uint16_t value)
{
    StoreLe(p, value);
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t value)
{
    StoreLe(p, value);
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t value)
{
    StoreLe(p, value);
}

// Writes at the end of `out`, which grows by the field's size.
inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.resize(out.size() + 2);
    StoreLe16(out.data() + out.size() - 2, value);
}
inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.resize(out.size() + 4);
    StoreLe32(out.data() + out.size() - 4, value);
}
