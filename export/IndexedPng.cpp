#include "export/IndexedPng.h"

#include <csetjmp>
#include <new>
#include <png.h>
#include <vector>

namespace
{
// Only plain data lives in this frame: libpng reports errors by longjmp.
bool Write(std::FILE* file, const std::uint8_t* pixels, int width, int height,
           const std::uint8_t* palette, int entryBytes, png_bytep* rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr)
    {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color colours[256];
    for (int i = 0; i < 256; ++i)
    {
        const std::uint8_t* entry = palette + static_cast<std::ptrdiff_t>(i) * entryBytes;
        colours[i] = {entry[0], entry[1], entry[2]};
    }
    png_set_PLTE(png, info, colours, 256);
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(pixels + static_cast<std::size_t>(y) *
                                                     static_cast<std::size_t>(width));
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
} // namespace

bool WriteIndexedPng(std::FILE* file, const std::uint8_t* pixels, int width, int height,
                     const std::uint8_t* palette, int entryBytes)
{
    if (width <= 0 || height <= 0 || entryBytes < 3)
        return false;
    std::vector<png_bytep> rows;
    try
    {
        rows.resize(static_cast<std::size_t>(height));
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return Write(file, pixels, width, height, palette, entryBytes, rows.data());
}
