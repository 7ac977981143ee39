// The dialog's switches reach the capture through the manager: the overlay
// itself is tested in the capture's own tests.

#include "capture/Overlay.h"
#include "desktop/fake/FakeDesktop.h"
#include "drawing/Drawing.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
#include "tests/support/V2020Scene.h"
#include "video/Video.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{
// Points the fake platform at assets/ before the manager loads its sheets,
// wherever the tests run from.
struct SheetsFromAssets
{
    SheetsFromAssets()
    {
        CFakeGame::Get().Reset();
        CFakeDesktop::Get().SetProgramDirectory(TRELLON_SHEETS_DIR);
    }
};

class ManagerOverlayTest : public ::testing::Test, private SheetsFromAssets, protected CV2020Scene
{
protected:
    ManagerOverlayTest() : CV2020Scene(CFakeGame::Get()) {}

    void SetUp() override
    {
        Start();
        manager.m_bShowStats = 1;
    }

    std::vector<std::uint8_t> Captured()
    {
        EXPECT_EQ(manager.CaptureFrame(), 1);
        const CVideo& video = manager.GetVideo();
        std::vector<std::uint8_t> out(640 * 480);
        EXPECT_EQ(video.GetFrame(video.GetFrameCount() - 1, out.data(), false), 1);
        return out;
    }

    static std::uint8_t At(const std::vector<std::uint8_t>& p, int x, int y)
    {
        return p[static_cast<std::size_t>(y * 640 + x)];
    }

    CVideoManager manager;
};
} // namespace

TEST_F(ManagerOverlayTest, PanelIsDrawnOnlyWithStatsOn)
{
    Player(0, 0x01, 0);
    manager.m_bShowStats = 0;
    auto picture = Captured();
    EXPECT_NE(At(picture, 172, 235), kPlayerColourBase[0] + 1);
    manager.m_bShowStats = 1;
    picture = Captured();
    EXPECT_EQ(At(picture, 172, 235), kPlayerColourBase[0] + 1);
}

TEST_F(ManagerOverlayTest, MarkersAreDrawnOnlyWithPlusOn)
{
    Player(0, 0x01, 0);
    CFakeGame::Get().Write8(gamemem::kViewX, 10);
    TypeTable(40, 60, 1);
    Unit(0, 40, 0, 30, 320, 100); // half its hit points: a bar from left 181, top 120
    auto picture = Captured();
    EXPECT_NE(At(picture, 181, 120), 200);
    manager.m_bShowPlus = 1;
    picture = Captured();
    EXPECT_EQ(At(picture, 181, 120), 200);
}
