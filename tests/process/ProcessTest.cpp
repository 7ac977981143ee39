#include "process/Process.h"

#include "process/fake/FakeGame.h"
#include "tests/support/ErrorOf.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace
{
class ProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        game.Reset();
        game.ShowWindow("WARCRAFT II", 4242);
        game.Map(0x00401000, std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
    }
    CFakeGame& game = CFakeGame::Get();
};

} // namespace

TEST_F(ProcessTest, AttachKeepsTheHandleAndDoesNotSearchAgainWhileTheGameRuns)
{
    CProcess process;
    ASSERT_TRUE(process.Attach());
    ASSERT_TRUE(process.Attach());
    EXPECT_EQ(game.WindowSearches(), 1);
    EXPECT_EQ(game.OpenCount(), 1);
    EXPECT_EQ(process.ReadDword(0x00401000), 0x44332211u);
    EXPECT_EQ(process.ReadWord(0x00401004), 0x6655u);
    EXPECT_EQ(process.ReadByte(0x00401005), 0x66u);
}

TEST_F(ProcessTest, EndedGameIsDroppedAndARestartIsFoundAfresh)
{
    CProcess process;
    ASSERT_TRUE(process.Attach());
    game.EndProcess();
    EXPECT_FALSE(process.Attach());
    EXPECT_EQ(game.OpenHandles(), 0); // released
    EXPECT_FALSE(process.IsAttached());
    // Reads on a detached object read nothing and raise nothing.
    EXPECT_EQ(process.ReadDword(0x00401000), 0u);
    EXPECT_EQ(process.ReadByte(0x00401000), 0u);
    std::uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_FALSE(process.ReadBlock(0x00401000, buffer, 4));
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(game.Reads(), 0);

    EXPECT_FALSE(process.Attach()); // no window yet
    game.ShowWindow("WARCRAFT II", 4242);
    EXPECT_TRUE(process.Attach());
    EXPECT_EQ(game.OpenCount(), 2);
}

TEST_F(ProcessTest, RecycledProcessIdIsNotTakenForTheGame)
{
    CProcess process;
    ASSERT_TRUE(process.Attach());
    game.EndProcess();
    game.StartProcess(); // another run under the same id
    EXPECT_FALSE(process.Attach());
}

TEST_F(ProcessTest, NoWindowOrARefusedOpenLeavesItDetachedWithTheReason)
{
    game.HideWindow();
    CProcess process;
    EXPECT_FALSE(process.Attach());
    EXPECT_EQ(game.OpenCount(), 0);

    game.ShowWindow("WARCRAFT II", 4242);
    game.RefuseOpen("Not allowed to read the game's memory.");
    EXPECT_FALSE(process.Attach());
    EXPECT_EQ(process.GetProblem(), "Not allowed to read the game's memory.");
    EXPECT_FALSE(process.IsAttached());
}

TEST_F(ProcessTest, WindowTitleMustMatchExactly)
{
    game.ShowWindow("Warcraft II", 4242);
    CProcess process;
    EXPECT_FALSE(process.Attach());
}

TEST_F(ProcessTest, FailedReadsRaiseTheirCodesAndStayAttached)
{
    CProcess process;
    ASSERT_TRUE(process.Attach());
    EXPECT_EQ(ErrorOf([&] { process.ReadByte(0); }), "x1");
    EXPECT_EQ(ErrorOf([&] { process.ReadWord(0x10); }), "x4");
    EXPECT_EQ(ErrorOf([&] { process.ReadDword(0x00400FFE); }), "x2"); // first byte unmapped
    EXPECT_EQ(ErrorOf([&] { process.ReadDword(0x00401004); }), "x3"); // only two bytes there
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(ErrorOf([&] { process.ReadBlock(0x7FFF0000, buffer, 8); }), "x5");
    EXPECT_TRUE(process.IsAttached());
    // A block that runs off the end is read as far as it goes; its count is not examined.
    EXPECT_TRUE(process.ReadBlock(0x00401002, buffer, 8));
    EXPECT_EQ(buffer[0], 0x33);
    EXPECT_EQ(buffer[3], 0x66);
    // Byte and word reads do not look at the count.
    EXPECT_EQ(process.ReadWord(0x00401005), 0x0066u);
}

TEST_F(ProcessTest, DestructorClosesTheHandle)
{
    {
        CProcess process;
        ASSERT_TRUE(process.Attach());
        EXPECT_EQ(game.OpenHandles(), 1);
    }
    EXPECT_EQ(game.OpenHandles(), 0);
}
