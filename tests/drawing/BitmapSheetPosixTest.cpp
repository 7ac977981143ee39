// Sheet loading cases that need POSIX special files.

#include "TestSheets.h"
#include "drawing/Bitmap8Group.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testsheets;

namespace
{
TEST(BitmapSheet, RefusesAFifoWithoutWaitingForAWriter)
{
    CBitmap8Group sheet(WriteTemp("fifo_ok.bmp", MakeBmp({"#"})), false);
    const std::string fifo = WriteTemp("fifo.bmp", {});
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(sheet.Load(fifo, false));
    EXPECT_EQ(sheet.GetCellCount(), 0);
    std::remove(fifo.c_str());
}
} // namespace
