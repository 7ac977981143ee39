#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds BMP files byte by byte for the sheet tests, so that every header
// field can be set to what a test needs, valid or not.
namespace testsheets
{
struct BmpFields
{
    std::int32_t width = 0;
    std::int32_t height = 0; // as stored: negative marks a top-down file
    std::uint16_t bitCount = 8;
    std::uint32_t compression = 0;
    std::uint32_t infoSize = 40;
    std::uint32_t colours = 256;   // colour table entries after the info header
    std::int64_t pixelOffset = -1; // -1: right after the colour table
    bool signature = true;         // "BM"
};

// A file of `fields` whose pixel rows are `pixels` (top row first, width
// bytes a row), written bottom-up with each row padded to 4 bytes.
std::vector<std::uint8_t> MakeBmp(const BmpFields& fields, const std::vector<std::uint8_t>& pixels);
// A plain 8-bit file of the picture drawn by `rows`: one string a row, '.' for
// 0, and any other character for its own code.
std::vector<std::uint8_t> MakeBmp(const std::vector<std::string>& rows);
// Writes `bytes` to a file of the test's temporary folder and returns its path.
std::string WriteTemp(const std::string& name, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
} // namespace testsheets
