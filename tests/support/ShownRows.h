#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Whether a picture the recorder read from the demo game is one it showed.
// The demo may change frames while a picture is read, so each row must equal
// the same row of one of the `count` pictures of `shown` from `first`, or be
// torn once: its start from one of them, the rest from another. The demo
// writes its buffer forwards and the recorder reads it forwards, so a read
// that overlaps a write crosses it at one place, and that place may fall
// inside a row. Columns before `from` are not compared (a panel drawn there).
inline bool RowsFromFrames(const std::uint8_t* picture,
                           const std::vector<std::vector<std::uint8_t>>& shown, std::size_t first,
                           std::size_t count, int width, int height, int from = 0)
{
    const std::size_t length = static_cast<std::size_t>(width - from);
    for (int y = 0; y < height; ++y)
    {
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                               static_cast<std::size_t>(from);
        const std::uint8_t* row = picture + at;
        std::size_t head = 0; // the longest start of the row one picture holds
        std::size_t tail = 0; // the longest end
        for (std::size_t n = first; n < first + count && n < shown.size(); ++n)
        {
            const std::uint8_t* other = &shown[n][at];
            std::size_t same = 0;
            while (same < length && row[same] == other[same])
                ++same;
            head = std::max(head, same);
            same = 0;
            while (same < length && row[length - 1 - same] == other[length - 1 - same])
                ++same;
            tail = std::max(tail, same);
        }
        if (head + tail < length)
            return false;
    }
    return true;
}

// How many rows of two width x height pictures differ.
inline int RowsUnlike(const std::uint8_t* picture, const std::uint8_t* other, int width, int height)
{
    int rows = 0;
    const std::size_t length = static_cast<std::size_t>(width);
    for (std::size_t at = 0; at < length * static_cast<std::size_t>(height); at += length)
        rows += std::memcmp(picture + at, other + at, length) != 0;
    return rows;
}

// What a picture that is none the demo showed is most like, for a test's
// message: the picture of `shown` from `from` on with the fewest rows unlike
// it, as "nearest: frame N, R rows unlike it".
inline std::string NearestShown(const std::uint8_t* picture,
                                const std::vector<std::vector<std::uint8_t>>& shown,
                                std::size_t from, int width, int height)
{
    int best = height + 1;
    std::size_t bestFrame = from;
    for (std::size_t n = from; n < shown.size(); ++n)
        if (const int rows = RowsUnlike(picture, shown[n].data(), width, height); rows < best)
        {
            best = rows;
            bestFrame = n;
        }
    return "nearest: frame " + std::to_string(bestFrame) + ", " + std::to_string(best) +
           " rows unlike it";
}
