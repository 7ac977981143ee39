// trellon-icon: draws the TrellonHD application icon, a strip of film framing
// a castle tower under a sky with a red record dot, and writes it as 8-bit
// palette PNG files, one for each size a desktop asks for.
//
// Every size is drawn directly on its own pixel grid instead of being shrunk
// from a big picture: shrinking smears the thin shapes into mud at 16 and 32.

#include "export/IndexedPng.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace
{
// The sixteen colours the icon is allowed; the rest of the palette stays black
// and unused.
enum Colour : std::uint8_t
{
    kBackground = 0, // outside the rounded corners
    kFrame,
    kFrameLight,
    kFrameShadow,
    kCream, // film holes and the glint on the record dot
    kSkyTop,
    kSkyBottom,
    kGrass,
    kGrassDark,
    kStone,
    kStoneDark,
    kStoneLight,
    kRed,
    kRedLight,
    kRedDark,
    kGold,
    kColourCount
};

constexpr std::array<std::uint8_t, 3 * kColourCount> kColours = {
    27,  29,  35,  //
    48,  52,  62,  //
    90,  97,  112, //
    14,  15,  19,  //
    233, 226, 204, //
    29,  52,  97,  //
    74,  125, 181, //
    79,  138, 46,  //
    45,  90,  35,  //
    156, 150, 138, //
    97,  92,  83,  //
    207, 200, 182, //
    224, 36,  36,  //
    255, 138, 112, //
    128, 16,  16,  //
    232, 184, 48,  //
};

constexpr std::array<int, 6> kSizes = {16, 32, 48, 64, 128, 256};

// At 16 pixels no rule-driven layout keeps the tower, the dot and the film
// holes apart, so that size is drawn by hand. One letter a pixel.
constexpr std::array<std::string_view, 16> kSixteen = {
    ".HHHHHHHHHHHHHH.", //
    "HooFFooFFooFFooS", //
    "HFFFFFFFFFFFFFFS", //
    "HkkkkkkkkkkkkkkS", //
    "HkLktkTkkkRRRkkS", //
    "HkLtttTkkRrRRRkS", //
    "HsLtStTssRRRRRsS", //
    "HsLtttTssRRRRRsS", //
    "HsLtttTsssRRRssS", //
    "HsLtttTsssssdddS", //
    "HgLtStTggggggggS", //
    "HgLtStTggggggggS", //
    "HgLtStTggggggggS", //
    "HFFFFFFFFFFFFFFS", //
    "HooFFooFFooFFooS", //
    ".SSSSSSSSSSSSSS.", //
};

std::uint8_t LetterColour(char letter)
{
    switch (letter)
    {
    case 'F':
        return kFrame;
    case 'H':
        return kFrameLight;
    case 'S':
        return kFrameShadow;
    case 'o':
        return kCream;
    case 'k':
        return kSkyTop;
    case 's':
        return kSkyBottom;
    case 'g':
        return kGrass;
    case 'd':
        return kGrassDark;
    case 't':
        return kStone;
    case 'T':
        return kStoneDark;
    case 'L':
        return kStoneLight;
    case 'R':
        return kRed;
    case 'r':
        return kRedLight;
    default:
        return kBackground;
    }
}

int Round(double value)
{
    return static_cast<int>(std::lround(value));
}

// A square of palette indices with a clip rectangle, so that the scene inside
// the film frame can be drawn with shapes that overhang its edges.
class CIconCanvas
{
public:
    explicit CIconCanvas(int size)
        : m_nSize(size),
          m_pixels(static_cast<std::size_t>(size) * static_cast<std::size_t>(size), kBackground),
          m_nClipLeft(0), m_nClipTop(0), m_nClipRight(size), m_nClipBottom(size)
    {
    }

    int GetSize() const { return m_nSize; }
    const std::uint8_t* GetPixels() const { return m_pixels.data(); }

    void SetClip(int left, int top, int right, int bottom)
    {
        m_nClipLeft = std::max(0, left);
        m_nClipTop = std::max(0, top);
        m_nClipRight = std::min(m_nSize, right);
        m_nClipBottom = std::min(m_nSize, bottom);
    }
    void ResetClip() { SetClip(0, 0, m_nSize, m_nSize); }

    void Plot(int x, int y, std::uint8_t colour)
    {
        if (x >= m_nClipLeft && x < m_nClipRight && y >= m_nClipTop && y < m_nClipBottom)
            m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nSize) +
                     static_cast<std::size_t>(x)] = colour;
    }

    void FillRect(int left, int top, int right, int bottom, std::uint8_t colour)
    {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                Plot(x, y, colour);
    }

    // Shapes are tested at pixel centres: a pixel is either in or out, since
    // sixteen colours leave nothing to blend edges with.
    void FillEllipse(double cx, double cy, double rx, double ry, std::uint8_t colour)
    {
        const int top = static_cast<int>(std::floor(cy - ry));
        const int bottom = static_cast<int>(std::ceil(cy + ry));
        const int left = static_cast<int>(std::floor(cx - rx));
        const int right = static_cast<int>(std::ceil(cx + rx));
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x)
            {
                const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
                if (dx * dx + dy * dy <= 1.0)
                    Plot(x, y, colour);
            }
    }
    void FillCircle(double cx, double cy, double r, std::uint8_t colour)
    {
        FillEllipse(cx, cy, r, r, colour);
    }

    void FillRoundRect(int left, int top, int right, int bottom, double radius, std::uint8_t colour)
    {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (RoundRectDepth(x, y, left, top, right, bottom, radius) >= 0.0)
                    Plot(x, y, colour);
    }

    // How far the centre of pixel (x, y) lies inside the rounded rectangle;
    // negative outside. The frame's bevel is a band of this depth.
    static double RoundRectDepth(int x, int y, int left, int top, int right, int bottom,
                                 double radius)
    {
        const double px = x + 0.5, py = y + 0.5;
        const double edge = std::min({px - left, right - px, py - top, bottom - py});
        const double nx = std::clamp(px, left + radius, right - radius);
        const double ny = std::clamp(py, top + radius, bottom - radius);
        if (px == nx || py == ny)
            return edge;
        return radius - std::hypot(px - nx, py - ny);
    }

    // Fills with `upper` above `from`, `lower` below `to`, and an ordered
    // dither in between: a smooth sky without spending colours on it.
    void FillVerticalBlend(int left, int top, int right, int bottom, int from, int to,
                           std::uint8_t upper, std::uint8_t lower)
    {
        static constexpr int kBayer[4][4] = {
            {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
            {
                const double share = to > from
                                         ? std::clamp((y + 0.5 - from) / (to - from), 0.0, 1.0)
                                         : (y < from ? 0.0 : 1.0);
                const bool lowerWins = share * 16.0 > kBayer[y & 3][x & 3] + 0.5;
                Plot(x, y, lowerWins ? lower : upper);
            }
    }

private:
    int m_nSize;
    std::vector<std::uint8_t> m_pixels;
    int m_nClipLeft;
    int m_nClipTop;
    int m_nClipRight;
    int m_nClipBottom;
};

void DrawSixteen(CIconCanvas& canvas)
{
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            canvas.Plot(
                x, y,
                LetterColour(kSixteen[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]));
}

// The dark film frame: a rounded square, lit from the top left, with a row of
// holes along the top and the bottom edge.
void DrawFilmFrame(CIconCanvas& canvas, int stripHeight)
{
    const int size = canvas.GetSize();
    const double radius = std::max(2.0, std::round(size * 0.1));
    const double bevel = std::max(1, Round(size / 64.0));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
        {
            const double depth = CIconCanvas::RoundRectDepth(x, y, 0, 0, size, size, radius);
            if (depth < 0.0)
                continue;
            if (depth >= bevel)
                canvas.Plot(x, y, kFrame);
            else
                canvas.Plot(x, y, x + y < size - 1 ? kFrameLight : kFrameShadow);
        }

    // Six holes look like film at large sizes; at small ones six would merge.
    const int holes = size >= 64 ? 6 : 4;
    const double slot = static_cast<double>(size) / holes;
    const int holeWidth = Round(slot * 0.5);
    const int holeHeight = std::max(1, Round(stripHeight * 0.4));
    const int holeTop = Round((stripHeight - holeHeight) / 2.0);
    const double holeRadius = size >= 64 ? holeHeight * 0.3 : 0.0;
    for (int i = 0; i < holes; ++i)
    {
        const int left = Round(i * slot + (slot - holeWidth) / 2.0);
        canvas.FillRoundRect(left, holeTop, left + holeWidth, holeTop + holeHeight, holeRadius,
                             kCream);
        canvas.FillRoundRect(left, size - holeTop - holeHeight, left + holeWidth, size - holeTop,
                             holeRadius, kCream);
    }
}

struct Rect
{
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nRight = 0;
    int m_nBottom = 0;

    int GetWidth() const { return m_nRight - m_nLeft; }
    int GetHeight() const { return m_nBottom - m_nTop; }
};

// A three-merlon tower standing on the bottom of the scene, lit from the left
// like the frame.
void DrawTower(CIconCanvas& canvas, const Rect& scene)
{
    const int size = canvas.GetSize();
    const int width = scene.GetWidth(), height = scene.GetHeight();

    // Merlons are a little wider than the gaps, and both are whole pixels,
    // so the battlements stay regular at every size.
    const double target = width * 0.28;
    const int gap = std::max(1, Round(target * 0.14));
    const int merlon = std::max(1, Round((target - 2 * gap) / 3.0));
    const int towerWidth = 3 * merlon + 2 * gap;
    const int towerLeft = scene.m_nLeft + Round(width * 0.12);
    const int towerRight = towerLeft + towerWidth;
    // A corbelled parapet needs a pixel to stick out with; at 32 it would
    // only make the top look blurred.
    const int overhang = size >= 48 ? std::max(1, Round(towerWidth * 0.06)) : 0;
    const int merlonTop = scene.m_nTop + Round(height * 0.24);
    const int merlonHeight = std::max(2, Round(merlon * 0.9));
    const int parapetTop = merlonTop + merlonHeight;
    const int parapetBottom =
        parapetTop + (overhang > 0 ? std::max(1, Round(merlonHeight * 0.8)) : 0);

    const int light = std::max(1, Round(towerWidth * 0.14));
    const int dark = std::max(1, Round(towerWidth * 0.22));
    // Shading by column relative to the left edge of whichever part is drawn.
    auto shade = [&](int left, int right, int x) -> std::uint8_t
    {
        if (x < left + light)
            return kStoneLight;
        if (x >= right - dark)
            return kStoneDark;
        return kStone;
    };
    auto fillShaded = [&](int left, int top, int right, int bottom)
    {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                canvas.Plot(x, y, shade(left, right, x));
    };

    const int topLeft = towerLeft - overhang, topRight = towerRight + overhang;
    const int topWidth = topRight - topLeft;
    // Merlons spread over the parapet's width: the outer two sit on its ends.
    const int topGap = (topWidth - 3 * merlon) / 2;
    for (int i = 0; i < 3; ++i)
    {
        const int left = i == 2 ? topRight - merlon : topLeft + i * (merlon + topGap);
        const int right = i == 1 ? left + (topWidth - 2 * merlon - 2 * topGap) : left + merlon;
        fillShaded(left, merlonTop, right, parapetTop);
    }
    fillShaded(topLeft, parapetTop, topRight, parapetBottom);
    fillShaded(towerLeft, parapetBottom, towerRight, scene.m_nBottom);

    // Mortar courses only where the stones are big enough to read as stones.
    if (size >= 128)
    {
        const int line = std::max(1, Round(size / 128.0));
        const int course = std::max(4, Round(towerWidth * 0.17));
        const int stone = std::max(6, Round(towerWidth * 0.34));
        int row = 0;
        for (int y = parapetBottom + course; y < scene.m_nBottom; y += course, ++row)
        {
            for (int x = towerLeft; x < towerRight - dark; ++x)
                for (int t = 0; t < line; ++t)
                    if (x >= towerLeft + light || t == 0)
                        canvas.Plot(x, y + t, kStoneDark);
            const int offset = (row % 2 == 0) ? stone / 2 : 0;
            for (int x = towerLeft + offset + stone / 2; x < towerRight - dark - line; x += stone)
                canvas.FillRect(x, y + line, x + line, std::min(y + course, scene.m_nBottom),
                                kStoneDark);
        }
        // The parapet casts a shadow line on the wall below it.
        for (int t = 0; t < line; ++t)
            for (int x = towerLeft; x < towerRight - dark; ++x)
                canvas.Plot(x, parapetBottom + t, kStoneDark);
    }

    // An arrow slit and a door, both as dark as the frame's shadow.
    const int centre2 = towerLeft + towerRight; // twice the centre, to keep halves exact
    const int bodyHeight = scene.m_nBottom - parapetBottom;
    const int slitWidth = std::max(1, Round(towerWidth * 0.12));
    const int slitHeight = std::max(2, Round(towerWidth * 0.34));
    const int slitLeft = (centre2 - slitWidth) / 2;
    const int slitTop = parapetBottom + Round(bodyHeight * 0.18);
    if (size >= 64)
    {
        canvas.FillEllipse(centre2 / 2.0, slitTop + slitWidth / 2.0, slitWidth / 2.0,
                           slitWidth / 2.0, kFrameShadow);
        canvas.FillRect(slitLeft, slitTop + Round(slitWidth / 2.0), slitLeft + slitWidth,
                        slitTop + slitHeight, kFrameShadow);
    }
    else
        canvas.FillRect(slitLeft, slitTop, slitLeft + slitWidth, slitTop + slitHeight,
                        kFrameShadow);

    int doorWidth = std::max(2, Round(towerWidth * 0.36));
    // Same parity as the tower so that the door sits in the middle; narrower
    // rather than wider at small sizes, where a wide door swallows the wall.
    if ((doorWidth - towerWidth) % 2 != 0)
        doorWidth += size >= 64 ? 1 : -1;
    const int doorHeight = std::max(3, Round(towerWidth * 0.5));
    const int doorLeft = (centre2 - doorWidth) / 2;
    const int doorTop = scene.m_nBottom - doorHeight;
    if (size >= 48)
    {
        const double r = doorWidth / 2.0;
        canvas.FillEllipse(centre2 / 2.0, doorTop + r, r, r, kFrameShadow);
        canvas.FillRect(doorLeft, doorTop + Round(r), doorLeft + doorWidth, scene.m_nBottom,
                        kFrameShadow);
    }
    else
        canvas.FillRect(doorLeft, doorTop, doorLeft + doorWidth, scene.m_nBottom, kFrameShadow);

    // A gold pennant on a pole above the middle merlon.
    const int poleWidth = std::max(1, Round(size / 128.0));
    const int poleLeft = (centre2 - poleWidth) / 2;
    const int poleTop = std::max(scene.m_nTop + 1, merlonTop - Round(height * 0.2));
    canvas.FillRect(poleLeft, poleTop, poleLeft + poleWidth, merlonTop, kStoneDark);
    const int flagHeight = std::max(3, Round(height * 0.1)) | 1; // odd: a pointed tip
    const double flagLength = std::max(3.0, towerWidth * 0.5);
    for (int i = 0; i < flagHeight; ++i)
    {
        const double half = flagHeight / 2.0;
        const double reach = flagLength * (1.0 - std::fabs(i + 0.5 - half) / half);
        const int end = poleLeft + poleWidth + std::max(1, Round(reach));
        canvas.FillRect(poleLeft + poleWidth, poleTop + i, end, poleTop + i + 1, kGold);
    }
}

// The red record dot, with a dark rim and a glint where the light falls on it.
void DrawRecordDot(CIconCanvas& canvas, const Rect& scene)
{
    const int size = canvas.GetSize();
    const int diameter = Round(scene.GetHeight() * 0.44);
    // An odd diameter needs a centre in the middle of a pixel to stay symmetric.
    const double middle = (diameter % 2 != 0) ? 0.5 : 0.0;
    const double cx = scene.m_nLeft + Round(scene.GetWidth() * 0.73) + middle;
    const double cy = scene.m_nTop + Round(scene.GetHeight() * 0.36) + middle;
    const double r = diameter / 2.0;
    // A little slack rounds off the flat runs that a bare pixel-centre test
    // leaves at the top, bottom and sides of small circles.
    const double slack = size <= 48 ? 0.3 : 0.0;

    const int rim = size >= 64 ? std::max(1, Round(diameter * 0.06)) : 0;
    canvas.FillCircle(cx, cy, r + slack, kRedDark);
    canvas.FillCircle(cx, cy, r + slack - rim, kRed);
    // The glint is placed on the pixel grid like the dot itself: a few pixels
    // off the grid turn a round glint into a ragged blob.
    const int glint = std::max(1, Round(r * 0.55));
    const double glintMiddle = (glint % 2 != 0) ? 0.5 : 0.0;
    canvas.FillCircle(std::floor(cx - 0.34 * r) + glintMiddle,
                      std::floor(cy - 0.34 * r) + glintMiddle, glint / 2.0 - 0.1, kRedLight);
    if (size >= 64)
        canvas.FillCircle(cx - 0.42 * r, cy - 0.42 * r, 0.12 * r, kCream);
}

void DrawScene(CIconCanvas& canvas, const Rect& scene)
{
    const int size = canvas.GetSize();
    const int width = scene.GetWidth(), height = scene.GetHeight();
    canvas.SetClip(scene.m_nLeft, scene.m_nTop, scene.m_nRight, scene.m_nBottom);

    // Below 128 pixels the dither reads as noise rather than as a gradient.
    if (size >= 128)
        canvas.FillVerticalBlend(scene.m_nLeft, scene.m_nTop, scene.m_nRight, scene.m_nBottom,
                                 scene.m_nTop + Round(height * 0.3),
                                 scene.m_nTop + Round(height * 0.72), kSkyTop, kSkyBottom);
    else
        canvas.FillVerticalBlend(scene.m_nLeft, scene.m_nTop, scene.m_nRight, scene.m_nBottom,
                                 scene.m_nTop + height / 2, scene.m_nTop + height / 2, kSkyTop,
                                 kSkyBottom);

    // A far hill behind the dot and the near ground the tower stands on.
    canvas.FillEllipse(scene.m_nLeft + width * 0.8, scene.m_nTop + height * 0.9, width * 0.42,
                       height * 0.24, kGrassDark);
    canvas.FillEllipse(scene.m_nLeft + width * 0.3, scene.m_nTop + height * 1.25, width * 0.95,
                       height * 0.45, kGrass);

    DrawTower(canvas, scene);
    DrawRecordDot(canvas, scene);
    canvas.ResetClip();
}

void DrawScaled(CIconCanvas& canvas)
{
    const int size = canvas.GetSize();
    const int stripHeight = Round(size * 0.17);
    const int margin = std::max(2, Round(size * 0.06));
    DrawFilmFrame(canvas, stripHeight);

    // The picture is sunk into the frame: shadow on its top and left edge,
    // light on the bottom and right, the other way round from the frame.
    const Rect screen = {margin, stripHeight, size - margin, size - stripHeight};
    const int inset = std::max(1, Round(size / 96.0));
    canvas.FillRect(screen.m_nLeft, screen.m_nTop, screen.m_nRight, screen.m_nBottom, kFrameLight);
    canvas.FillRect(screen.m_nLeft, screen.m_nTop, screen.m_nRight - inset,
                    screen.m_nBottom - inset, kFrameShadow);
    const Rect scene = {screen.m_nLeft + inset, screen.m_nTop + inset, screen.m_nRight - inset,
                         screen.m_nBottom - inset};
    DrawScene(canvas, scene);
}

bool WriteIcon(const std::string& path, const CIconCanvas& canvas, std::string& problem)
{
    std::array<std::uint8_t, 256 * 3> palette = {};
    std::copy(kColours.begin(), kColours.end(), palette.begin());

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        problem = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteIndexedPng(file, canvas.GetPixels(), canvas.GetSize(),
                                         canvas.GetSize(), palette.data(), 3);
    // A full disk shows up only when the buffered tail is flushed.
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
    {
        problem = "cannot write " + path;
        return false;
    }
    return true;
}

int Usage(const char* problem)
{
    if (problem != nullptr)
        std::fprintf(stderr, "trellon-icon: %s\n", problem);
    std::fprintf(problem != nullptr ? stderr : stdout,
                 "usage: trellon-icon [--out DIR]\n"
                 "  writes trellonhd-N.png into DIR (default: .) for N = 16, 32, 48, 64,\n"
                 "  128 and 256.\n");
    return problem != nullptr ? 2 : 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::string dir = ".";
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
            dir = argv[++i];
        else if (std::strcmp(argv[i], "--help") == 0)
            return Usage(nullptr);
        else
            return Usage((std::string("unexpected argument '") + argv[i] + "'").c_str());
    }

    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
    {
        std::fprintf(stderr, "trellon-icon: cannot create %s: %s\n", dir.c_str(),
                     error.message().c_str());
        return 1;
    }

    for (const int size : kSizes)
    {
        CIconCanvas canvas(size);
        if (size == 16)
            DrawSixteen(canvas);
        else
            DrawScaled(canvas);

        const std::uint8_t* pixels = canvas.GetPixels();
        const std::size_t count = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
        // The sixteen-colour promise is checked here rather than trusted to
        // every drawing routine.
        if (std::any_of(pixels, pixels + count, [](std::uint8_t p) { return p >= kColourCount; }))
        {
            std::fprintf(stderr, "trellon-icon: the %dx%d icon uses a colour past %d\n", size, size,
                         kColourCount - 1);
            return 1;
        }

        std::string problem;
        const std::string path = dir + "/trellonhd-" + std::to_string(size) + ".png";
        if (!WriteIcon(path, canvas, problem))
        {
            std::fprintf(stderr, "trellon-icon: %s\n", problem.c_str());
            return 1;
        }
    }
    return 0;
}
