#include "base/ByteOrder.h"

#include <gtest/gtest.h>

namespace
{
// Distinct bytes, so that a swapped or dropped byte changes the value; the
// fields start at an odd offset, as fields of a packed header do.
constexpr std::uint8_t kBytes[] = {0xEE, 0x01, 0x82, 0x43, 0xC4, 0x05, 0x86, 0x47, 0xC8, 0xEE};

TEST(ByteOrder, LoadsTakeTheFirstByteAsTheLowest)
{
    EXPECT_EQ(LoadLe16(kBytes + 1), 0x8201u);
    EXPECT_EQ(LoadLe32(kBytes + 1), 0xC4438201u);
    EXPECT_EQ(LoadLe64(kBytes + 1), 0xC8478605C4438201u);
}

TEST(ByteOrder, StoresLayTheLowestByteFirstAndTouchNothingElse)
{
    std::uint8_t bytes[10];
    std::memset(bytes, 0xEE, sizeof bytes);
    StoreLe64(bytes + 1, 0xC8478605C4438201u);
    EXPECT_EQ(std::memcmp(bytes, kBytes, sizeof bytes), 0);

    std::memset(bytes, 0xEE, sizeof bytes);
    StoreLe32(bytes + 1, 0xC4438201u);
    StoreLe16(bytes + 5, 0x8605u);
    EXPECT_EQ(std::memcmp(bytes, kBytes, 7), 0);
    EXPECT_EQ(bytes[7], 0xEE);
}

TEST(ByteOrder, AppendsGrowTheVectorByTheField)
{
    std::vector<std::uint8_t> out = {0xEE};
    AppendLe16(out, 0x8201u);
    AppendLe32(out, 0x05C44382u);
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(std::memcmp(out.data(), kBytes, 3), 0);
    EXPECT_EQ(LoadLe32(out.data() + 3), 0x05C44382u);
}
} // namespace
