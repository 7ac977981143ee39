#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CVideo;

// Small helpers that make pictures and palettes whose faults show: distinct
// values in every position, so a swapped row or quadrant changes the result.
namespace testpics
{
std::vector<std::uint8_t> Solid(int width, int height, std::uint8_t value);
// Pixel (x, y) = (x * 7 + y * 13 + seed) mod 251 + 1: never 0, different
// in neighbouring pixels.
std::vector<std::uint8_t> Gradient(int width, int height, int seed);
std::vector<std::uint8_t> Noise(int width, int height, std::uint32_t seed);
// A palette with entry i = (i, 255 - i, seed, 0); never all zero.
std::vector<std::uint8_t> MakePalette(std::uint8_t seed);
std::string TempPath(const std::string& name);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// `frames` 64 x 48 frames of gradients and noise with palettes that change
// every four frames, asserting that each is taken.
void FillVideo(CVideo& video, int frames);
} // namespace testpics
