#include "TestPictures.h"

#include "tests/support/TestTempFolder.h"
#include "video/Video.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace testpics
{
std::vector<std::uint8_t> Solid(int width, int height, std::uint8_t value)
{
    return std::vector<std::uint8_t>(
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height), value);
}

std::vector<std::uint8_t> Gradient(int width, int height, int seed)
{
    std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p[static_cast<std::size_t>(y * width + x)] =
                static_cast<std::uint8_t>((x * 7 + y * 13 + seed) % 251 + 1);
    return p;
}

std::vector<std::uint8_t> Noise(int width, int height, std::uint32_t seed)
{
    std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::uint32_t s = seed * 2654435761u + 1;
    for (auto& v : p)
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<std::uint8_t>(s);
    }
    return p;
}

std::vector<std::uint8_t> MakePalette(std::uint8_t seed)
{
    std::vector<std::uint8_t> p(1024);
    for (int i = 0; i < 256; ++i)
    {
        p[static_cast<std::size_t>(4 * i)] = static_cast<std::uint8_t>(i);
        p[static_cast<std::size_t>(4 * i + 1)] = static_cast<std::uint8_t>(255 - i);
        p[static_cast<std::size_t>(4 * i + 2)] = seed;
        p[static_cast<std::size_t>(4 * i + 3)] = 0;
    }
    return p;
}

std::string TempPath(const std::string& name)
{
    return (TestTempFolder() / name).string();
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}
void FillVideo(CVideo& video, int frames)
{
    ASSERT_EQ(video.SetGeometry(64, 64, 48, 0, 0), 1);
    for (int k = 0; k < frames; ++k)
    {
        const auto picture =
            k % 3 == 2 ? Noise(64, 48, static_cast<std::uint32_t>(k)) : Gradient(64, 48, k);
        const auto palette = MakePalette(static_cast<std::uint8_t>(k / 4));
        ASSERT_EQ(
            video.AddFrame(static_cast<std::uint32_t>(k * 65537), palette.data(), picture.data()),
            AF_ADDED);
    }
}
} // namespace testpics
