#include "TestSheets.h"

#include "base/ByteOrder.h"
#include "tests/support/TestTempFolder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace testsheets
{
std::vector<std::uint8_t> MakeBmp(const BmpFields& fields, const std::vector<std::uint8_t>& pixels)
{
    const std::uint32_t headerEnd = 14 + fields.infoSize + 4 * fields.colours;
    const std::uint32_t offset =
        fields.pixelOffset < 0 ? headerEnd : static_cast<std::uint32_t>(fields.pixelOffset);
    std::vector<std::uint8_t> out;
    out.push_back(fields.signature ? 'B' : 'X');
    out.push_back('M');
    AppendLe32(out, 0); // file size, which readers do not trust
    AppendLe32(out, 0);
    AppendLe32(out, offset);
    AppendLe32(out, fields.infoSize);
    AppendLe32(out, static_cast<std::uint32_t>(fields.width));
    AppendLe32(out, static_cast<std::uint32_t>(fields.height));
    AppendLe16(out, 1);
    AppendLe16(out, fields.bitCount);
    AppendLe32(out, fields.compression);
    for (int i = 0; i < 5; ++i)
        AppendLe32(out, 0);
    out.resize(headerEnd, 0);
    for (std::uint32_t i = 0; i < fields.colours; ++i)
        for (int k = 0; k < 3; ++k)
            out[14 + fields.infoSize + 4 * i + static_cast<std::uint32_t>(k)] =
                static_cast<std::uint8_t>(i);
    // An offset far past the headers stays a forged field, not a huge file.
    if (offset <= out.size() + (1u << 20))
        out.resize(std::max<std::size_t>(out.size(), offset), 0);

    const std::int32_t rows = fields.height < 0 ? -fields.height : fields.height;
    const std::size_t width = static_cast<std::size_t>(std::max(fields.width, 0));
    for (std::int32_t i = 0; i < rows && !pixels.empty(); ++i)
    {
        const std::int32_t y = fields.height < 0 ? i : rows - 1 - i;
        const auto row =
            pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * width);
        out.insert(out.end(), row, row + static_cast<std::ptrdiff_t>(width));
        out.insert(out.end(), (4 - width % 4) % 4, 0);
    }
    return out;
}

std::vector<std::uint8_t> MakeBmp(const std::vector<std::string>& rows)
{
    BmpFields fields;
    fields.width = static_cast<std::int32_t>(rows.empty() ? 0 : rows[0].size());
    fields.height = static_cast<std::int32_t>(rows.size());
    std::vector<std::uint8_t> pixels;
    for (const std::string& row : rows)
        for (char c : row)
            pixels.push_back(c == '.' ? 0 : static_cast<std::uint8_t>(c));
    return MakeBmp(fields, pixels);
}

std::string WriteTemp(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = (TestTempFolder() / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
} // namespace testsheets
