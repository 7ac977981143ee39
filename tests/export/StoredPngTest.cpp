// The PNG writer without libpng, read back by libpng's reader, which checks
// every chunk's CRC-32 and the zlib stream's Adler-32 on its way.

#include "tests/support/TestTempFolder.h"
#include "export/IndexedPng.h"

#include <csetjmp>
#include <cstdio>
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <vector>

namespace
{
struct Decoded
{
    bool ok = false;
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0;
    std::vector<png_color> palette;
    std::vector<std::vector<std::uint8_t>> rows;
};

// Only plain data in this frame: libpng reports errors by longjmp.
void Decode(std::FILE* file, Decoded& out)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.depth = png_get_bit_depth(png, info);
    out.colourType = png_get_color_type(png, info);
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &colours, &count) != 0)
        out.palette.assign(colours, colours + count);
    png_bytepp rows = png_get_rows(png, info);
    for (png_uint_32 y = 0; y < out.height; ++y)
        out.rows.emplace_back(rows[y], rows[y] + out.width);
    out.ok = true;
    png_destroy_read_struct(&png, &info, nullptr);
}

std::uint8_t PixelAt(int x, int y)
{
    return static_cast<std::uint8_t>(x * 7 + y * 13 + (x >> 8) * 3);
}

// Writes a width x height picture with the video's 4-byte palette entries
// (the spare byte set, so that it shows if it leaks into PLTE) and reads it
// back.
Decoded WriteAndRead(const std::string& path, int width, int height)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] = PixelAt(x, y);
    std::vector<std::uint8_t> palette(1024);
    for (int i = 0; i < 256; ++i)
    {
        palette[static_cast<std::size_t>(i) * 4] = static_cast<std::uint8_t>(i);
        palette[static_cast<std::size_t>(i) * 4 + 1] = static_cast<std::uint8_t>(255 - i);
        palette[static_cast<std::size_t>(i) * 4 + 2] = static_cast<std::uint8_t>(i * 3);
        palette[static_cast<std::size_t>(i) * 4 + 3] = 0xEE;
    }
    Decoded decoded;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return decoded;
    const bool written = WriteIndexedPng(file, pixels.data(), width, height, palette.data(), 4);
    std::fclose(file);
    if (!written)
        return decoded;
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return decoded;
    Decode(file, decoded);
    std::fclose(file);
    return decoded;
}

// Sizes chosen around the 65,535-byte stored block: one row short of it,
// exactly one block (65,534 pixels + the filter byte), exactly two, a block
// boundary in the middle of a row, and a frame of the game's usual size.
struct PictureSize
{
    int width;
    int height;
};
class StoredPngSizes : public ::testing::TestWithParam<PictureSize>
{
};

TEST_P(StoredPngSizes, ReadsBackThroughLibpngPixelForPixel)
{
    const PictureSize size = GetParam();
    const Decoded png =
        WriteAndRead((TestTempFolder() / "frame.png").string(), size.width, size.height);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, static_cast<png_uint_32>(size.width));
    EXPECT_EQ(png.height, static_cast<png_uint_32>(size.height));
    EXPECT_EQ(png.depth, 8);
    EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_PALETTE);
    ASSERT_EQ(png.palette.size(), 256u);
    for (int i = 0; i < 256; ++i)
    {
        const png_color c = png.palette[static_cast<std::size_t>(i)];
        ASSERT_EQ(c.red, i);
        ASSERT_EQ(c.green, 255 - i);
        ASSERT_EQ(c.blue, static_cast<std::uint8_t>(i * 3));
    }
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            ASSERT_EQ(png.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)],
                      PixelAt(x, y))
                << "at " << x << ", " << y;
}

INSTANTIATE_TEST_SUITE_P(AroundStoredBlocks, StoredPngSizes,
                         ::testing::Values(PictureSize{1, 1}, PictureSize{3, 2}, PictureSize{65533, 1},
                                           PictureSize{65534, 1}, PictureSize{65534, 2}, PictureSize{1000, 70},
                                           PictureSize{640, 480}),
                         [](const ::testing::TestParamInfo<PictureSize>& size) {
                             return std::to_string(size.param.width) + "x" +
                                    std::to_string(size.param.height);
                         });

TEST(StoredPng, RefusesBadArgumentsWithoutWriting)
{
    const std::string path = (TestTempFolder() / "bad.png").string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::uint8_t pixels[4] = {1, 2, 3, 4};
    std::uint8_t palette[1024] = {};
    EXPECT_FALSE(WriteIndexedPng(file, pixels, 0, 1, palette, 3));
    EXPECT_FALSE(WriteIndexedPng(file, pixels, 2, -2, palette, 3));
    EXPECT_FALSE(WriteIndexedPng(file, pixels, 2, 2, palette, 2));
    EXPECT_FALSE(WriteIndexedPng(file, nullptr, 2, 2, palette, 3));
    EXPECT_FALSE(WriteIndexedPng(file, pixels, 2, 2, nullptr, 3));
    EXPECT_FALSE(WriteIndexedPng(nullptr, pixels, 2, 2, palette, 3));
    EXPECT_EQ(std::ftell(file), 0L);
    std::fclose(file);
}

TEST(StoredPng, ReportsAFileThatCannotBeWritten)
{
    const std::string path = (TestTempFolder() / "read-only.png").string();
    std::FILE* make = std::fopen(path.c_str(), "wb");
    ASSERT_NE(make, nullptr);
    std::fclose(make);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const std::uint8_t pixels[4] = {1, 2, 3, 4};
    std::uint8_t palette[768] = {};
    EXPECT_FALSE(WriteIndexedPng(file, pixels, 2, 2, palette, 3));
    std::fclose(file);
}
} // namespace
