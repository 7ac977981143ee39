#include "base/Crc32.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{
std::uint32_t CrcOf(const std::string& text)
{
    return Crc32(text.data(), text.size());
}

TEST(Crc32, GivesTheCheckValuesOfZipAndPng)
{
    EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
    EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(CrcOf("IEND"), 0xAE426082u); // the last four bytes of every PNG file
    EXPECT_EQ(CrcOf(""), 0u);
    EXPECT_EQ(CrcOf(std::string(32, '\0')), 0x190A55ADu);
}

TEST(Crc32, ContinuesOverPiecesAsOverTheWhole)
{
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 3));
    const std::uint32_t whole = Crc32(bytes.data(), bytes.size());
    for (std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{511}, bytes.size()})
        EXPECT_EQ(Crc32(bytes.data() + split, bytes.size() - split, Crc32(bytes.data(), split)),
                  whole)
            << "split at " << split;
}
} // namespace
