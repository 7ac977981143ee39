// WriteIndexedPng without libpng, for systems that have none (Windows). The
// file is the one libpng would write for the same picture (IHDR of an 8-bit
// palette image, a 256-entry PLTE, the pixels, IEND), except that the zlib
// stream holds "stored" deflate blocks, the pixels uncompressed: any PNG
// reader takes them, and the writer stays a page of code.
//
// The picture is streamed: each IDAT chunk carries one stored block of at
// most 65,535 bytes of filtered rows (filter type 0 before every row), the
// first one behind the zlib header and the last one followed by the Adler-32
// of everything, so a frame of any size needs one block's worth of memory.
// Adler-32 (over the rows) is computed here, and CRC-32 (per chunk) by
// base/Crc32.h.

#include "base/Crc32.h"
#include "export/IndexedPng.h"

#include <cstddef>
#include <new>
#include <vector>

namespace
{
// The most a stored deflate block holds (its length field is 16 bits).
constexpr std::size_t kMaxStoredBlock = 65535;
// zlib header: deflate with a 32 KiB window, no dictionary, "fastest";
// 0x7801 is a multiple of 31 as the format requires.
constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x01};
constexpr std::uint32_t kAdlerModulus = 65521;
// The most bytes Adler-32's sums take before they must be reduced to stay
// within 32 bits.
constexpr std::size_t kAdlerRun = 5552;

struct Adler32
{
    std::uint32_t a = 1;
    std::uint32_t b = 0;

    void Add(const std::uint8_t* data, std::size_t size)
    {
        while (size > 0)
        {
            const std::size_t run = size < kAdlerRun ? size : kAdlerRun;
            for (std::size_t i = 0; i < run; ++i)
            {
                a += data[i];
                b += a;
            }
            a %= kAdlerModulus;
            b %= kAdlerModulus;
            data += run;
            size -= run;
        }
    }
    std::uint32_t Value() const { return (b << 16) | a; }
};

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// Writes one chunk: length, type, data, CRC of type and data.
bool WriteChunk(std::FILE* file, const char (&type)[5], const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> head;
    PutBig32(head, static_cast<std::uint32_t>(data.size()));
    head.insert(head.end(), type, type + 4);
    const std::uint32_t crc = Crc32(data.data(), data.size(), Crc32(head.data() + 4, 4));
    std::vector<std::uint8_t> tail;
    PutBig32(tail, crc);
    return std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
           (data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size()) &&
           std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
}

bool Write(std::FILE* file, const std::uint8_t* pixels, int width, int height,
           const std::uint8_t* palette, int entryBytes)
{
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::fwrite(kSignature, 1, sizeof(kSignature), file) != sizeof(kSignature))
        return false;

    std::vector<std::uint8_t> data;
    PutBig32(data, static_cast<std::uint32_t>(width));
    PutBig32(data, static_cast<std::uint32_t>(height));
    // 8 bits per index, colour type 3 (palette), deflate, adaptive
    // filtering (type 0 used throughout), no interlace.
    data.insert(data.end(), {8, 3, 0, 0, 0});
    if (!WriteChunk(file, "IHDR", data))
        return false;

    data.clear();
    for (int i = 0; i < 256; ++i)
    {
        const std::uint8_t* entry = palette + static_cast<std::ptrdiff_t>(i) * entryBytes;
        data.insert(data.end(), entry, entry + 3);
    }
    if (!WriteChunk(file, "PLTE", data))
        return false;

    const std::size_t rowBytes = static_cast<std::size_t>(width) + 1;
    const std::uint64_t total =
        static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(height);
    std::uint64_t done = 0; // bytes of the filtered rows written so far
    Adler32 adler;
    do
    {
        const std::size_t blockSize = total - done < kMaxStoredBlock
                                          ? static_cast<std::size_t>(total - done)
                                          : kMaxStoredBlock;
        const bool last = done + blockSize == total;
        data.clear();
        if (done == 0)
            data.insert(data.end(), kZlibHeader, kZlibHeader + 2);
        data.push_back(last ? 1 : 0); // BFINAL, BTYPE 00 (stored)
        const auto length = static_cast<std::uint16_t>(blockSize);
        const auto inverse = static_cast<std::uint16_t>(~length);
        data.insert(data.end(),
                    {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                     static_cast<std::uint8_t>(inverse), static_cast<std::uint8_t>(inverse >> 8)});
        const std::size_t start = data.size();
        std::size_t left = blockSize;
        while (left > 0)
        {
            const auto row = static_cast<std::size_t>(done / rowBytes);
            const auto column = static_cast<std::size_t>(done % rowBytes);
            if (column == 0)
            {
                data.push_back(0); // filter type None
                ++done;
                --left;
                continue;
            }
            const std::size_t run = rowBytes - column < left ? rowBytes - column : left;
            const std::uint8_t* from =
                pixels + row * static_cast<std::size_t>(width) + (column - 1);
            data.insert(data.end(), from, from + run);
            done += run;
            left -= run;
        }
        adler.Add(data.data() + start, blockSize);
        if (last)
            PutBig32(data, adler.Value());
        if (!WriteChunk(file, "IDAT", data))
            return false;
    } while (done < total);

    data.clear();
    return WriteChunk(file, "IEND", data);
}
} // namespace

bool WriteIndexedPng(std::FILE* file, const std::uint8_t* pixels, int width, int height,
                     const std::uint8_t* palette, int entryBytes)
{
    if (file == nullptr || pixels == nullptr || palette == nullptr || width <= 0 || height <= 0 ||
        entryBytes < 3)
        return false;
    try
    {
        return Write(file, pixels, width, height, palette, entryBytes);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
