// The unit icons, drawn here pixel by pixel: for each of the four icon columns
// of the statistics panel (worker, foot soldier, ranged unit, mounted unit)
// one figure of each side, the first side people with steel and horses, the
// second green-skinned with axes and wolves. Clothing, shields and the horse's
// cloth are in 208..211 so that the overlay paints them in the player's
// colour. Every figure gets a dark outline, added here rather than drawn, so
// that it reads on any ground.

#include "tools/sheets/Sheets.h"

#include <algorithm>
#include <array>

namespace
{
constexpr std::int32_t kIconWidth = 24;
constexpr std::int32_t kIconHeight = 20;
constexpr std::uint8_t kOutline = 1;

using IconArt = std::array<const char*, kIconHeight>;

// Letters of the art and the palette indices they stand for; any other
// letter is 0, transparent.
struct Ink
{
    char letter;
    std::uint8_t index;
};
constexpr Ink kInks[] = {
    {'p', kPlayerIndex},
    {'P', kPlayerIndex + 1},
    {'q', kPlayerIndex + 2},
    {'Q', kPlayerIndex + 3},
    {'s', 36},  // skin
    {'S', 42},  // skin in shade
    {'g', 70},  // green skin
    {'G', 76},  // green skin in shade
    {'x', 61},  // hair, boots
    {'b', 52},  // wood, leather
    {'B', 57},  // wood in shade, belt
    {'m', 82},  // steel
    {'M', 87},  // steel in shade
    {'n', 92},  // dark steel, hooves
    {'y', 100}, // gold
    {'w', 29},  // bow string, teeth
    {'e', 2},   // eyes
    {'r', 147}, // glowing eyes
    {'h', 163}, // horse
    {'H', 170}, // horse in shade
    {'f', 25},  // wolf
    {'F', 21},  // wolf in shade
    {'k', kOutline},
};

std::uint8_t IndexOf(char c)
{
    for (const Ink& ink : kInks)
        if (ink.letter == c)
            return ink.index;
    return 0;
}

// One row of the art a line, as it looks.
// clang-format off
const std::array<IconArt, 8> kIcons = {{
    // Worker, first side: a mallet over the shoulder.
    {"........................",
     "..........xxxx...mmmmm..",
     ".........xxxxxx..mMMMn..",
     ".........sssssx..mMMMn..",
     ".........sesseS....b....",
     ".........ssssss....b....",
     "..........sSSs.....b....",
     "........pppppppp.ssb....",
     ".......pppppppppsSsb....",
     "......sppppppppqq..b....",
     "......spppppppqq...b....",
     "......s.ppppppqq...b....",
     "......SsBByBBBBB...b....",
     "........pppppqqq...b....",
     "........bbbb.bbB...b....",
     "........bbbb.bbB........",
     "........bbb..bBB........",
     "........BBB..BBB........",
     ".......xxxx..xxxx.......",
     "........................"},
    // Worker, second side: a wood axe.
    {"........................",
     "..........gggg.....mm...",
     ".........gggggg...mmMM..",
     ".........GgrggrG..mmMMn.",
     ".........gggggg...mmbMn.",
     ".........gwGGwg.....b...",
     "..........gggg......b...",
     "......ggqppppppqgggGb...",
     ".....gggqpppppppqggGb...",
     ".....ggGqppppppqq..b....",
     ".....gg.qpppppqq...b....",
     ".....gg.QpppppqQ...b....",
     ".....GG.BBByBBBB...b....",
     "........bbbbbbbb...b....",
     "........bbbb.bbB...b....",
     "........bbbb.bbB........",
     "........ggg..gGG........",
     "........GGG..GGG........",
     ".......xxxx..xxxx.......",
     "........................"},
    // Foot soldier, first side: shield and raised sword.
    {"........................",
     "..........mmmm......m...",
     ".........mmmmmm.....m...",
     ".........nMMMMn.....m...",
     ".........ssssss.....m...",
     ".........sesses.....m...",
     "..........sSSs.....ymy..",
     "...pppp.mmmmmmmm....s...",
     "..ppppppmmmmmmmmmssSs...",
     "..ppyyppmMmmmmmM........",
     "..pyyyypmMmmmmmM........",
     "..ppyyppMmmmmmmM........",
     "..ppyyppBByBBBBB........",
     "...pppp.mmmmmmmm........",
     "....pp..MMMM.MMn........",
     "........mmmm.mmn........",
     "........mmm..mMM........",
     "........nnn..nnn........",
     ".......xxxx..xxxx.......",
     "........................"},
    // Foot soldier, second side: horned helmet and battle axe.
    {"........................",
     "...mm...m......m........",
     "..mMMm..mm....mm........",
     "..mnbMn..mmmmmm.........",
     "..mMbMn..mMMMMm.........",
     "...mbm...gGrrGg.........",
     "....b....gwggwg.........",
     "....b...ggGggGgg........",
     "....bggqqppppppqqgg.....",
     "....bgqppppppppppqgg....",
     "....b.qppppppppppqgG....",
     "....b.qpppppppppq.gG....",
     "....b.BBBBByBBBBB.GG....",
     "....b..pppppppppq.gg....",
     "......bbbbb.bbbbb.......",
     "......bbbb...bbbB.......",
     ".......ggg...gGG........",
     ".......GGG...GGG........",
     "......xxxx...xxxx.......",
     "........................"},
    // Ranged unit, first side: a hooded archer drawing the bow.
    {"........................",
     "....b......pppp.........",
     "...bb.....pppppp........",
     "...b.w....pPssspp.......",
     "..bb..w...Pesssp........",
     "..b....w..ssssss........",
     "..b.....w..sSSs.........",
     "..bsssssswppppppp.......",
     "..bSSsssswpppppppp......",
     "..b....w..qppppppqq.....",
     "..b...w...qpppppppq.....",
     "..bb.w....qppppppqq.....",
     "...bw.....BBByBBBBB.....",
     "...b......pppppppqq.....",
     "....b.....bbbb.bbbB.....",
     "..........bbbb.bbbB.....",
     "..........bbb...bBB.....",
     "..........BBB...BBB.....",
     ".........xxxx...xxxx....",
     "........................"},
    // Ranged unit, second side: throwing axes, one raised, one at the belt.
    {"........................",
     "................mmm.....",
     "...............mmMMn....",
     "..........gggg.mmMbn....",
     ".........gggggg...b.....",
     ".........GgrgrG...b.....",
     ".........gwggwg..gb.....",
     "..........gGGg..gg......",
     "........qppppppqgg......",
     ".......gqpppppppq.......",
     "......ggqppppppqq.......",
     "......gg.qpppppqq.......",
     ".....mgg.BBByBBBB.......",
     "....mmbb..ppppqqq.......",
     "....mMb...bbbb.bbB......",
     ".....M....bbbb.bbB......",
     "..........ggg...gGG.....",
     "..........GGG...GGG.....",
     ".........xxxx...xxxx....",
     "........................"},
    // Mounted unit, first side: a knight on a horse in the player's cloth.
    {"........................",
     "..........mmm...........",
     ".........mmmmm..........",
     ".........nMMMn..........",
     ".........msesm......hh..",
     "..........mmm......hhhh.",
     "........ppmmmpp...hhehh.",
     ".......ppmmmmmpp.hhhhhh.",
     ".......pppmmmmpphhh..hh.",
     "........ppppppp.hhh.....",
     "...hh.pppppppppphhh.....",
     "..hhhhqqpppppppqqhh.....",
     ".hh.hhqqqqqqqqqqqhh.....",
     ".h..hhhhhhhhhhhhhhH.....",
     ".h..hhhHhhhhhhhhhHH.....",
     "....hH.hH.....hH.hH.....",
     "....hH.hH.....hH.hH.....",
     "....hH..hH...hH...hH....",
     "...nn...nn..nn....nn....",
     "........................"},
    // Mounted unit, second side: a rider on a wolf.
    {"........................",
     "..........xx............",
     ".........gggg...........",
     "........gggggg....f.f...",
     "........GrggrG....ffff..",
     "........gwGGwg...fffeff.",
     ".........gggg...fffffff.",
     "......gqqppppqg.ffFwFwF.",
     ".....ggqppppppqgfffFF...",
     ".ff..g.qppppppqfff......",
     "..ff...qqqqqqqqfff......",
     "...ffffffffffffffF......",
     "....fffffffffffffF......",
     "....ffFffffffffFFF......",
     "....fF.fF....fF.fF......",
     "....fF.fF....fF.fF......",
     "...fF...fF..fF...fF.....",
     "...FF...FF..FF...FF.....",
     "........................",
     "........................"},
}};
// clang-format on

// Turns the art into pixels, outlines it and crops it to its columns.
bool MakeIcon(const IconArt& art, SheetPicture& icon, std::string& error)
{
    SheetPicture canvas;
    canvas.width = kIconWidth;
    canvas.height = kIconHeight;
    for (const char* row : art)
    {
        const std::string text = row;
        if (text.size() != static_cast<std::size_t>(kIconWidth))
        {
            error = "an icon row is not " + std::to_string(kIconWidth) + " wide: " + text;
            return false;
        }
        for (char c : text)
            canvas.pixels.push_back(IndexOf(c));
    }

    const auto at = [&canvas](std::int32_t x, std::int32_t y) -> std::uint8_t
    {
        if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height)
            return 0;
        return canvas.pixels[static_cast<std::size_t>(y * canvas.width + x)];
    };
    std::vector<std::uint8_t> outlined = canvas.pixels;
    for (std::int32_t y = 0; y < kIconHeight; ++y)
        for (std::int32_t x = 0; x < kIconWidth; ++x)
        {
            const auto isFigure = [](std::uint8_t v) { return v != 0 && v != kOutline; };
            if (at(x, y) == 0 && (isFigure(at(x - 1, y)) || isFigure(at(x + 1, y)) ||
                                  isFigure(at(x, y - 1)) || isFigure(at(x, y + 1))))
                outlined[static_cast<std::size_t>(y * kIconWidth + x)] = kOutline;
        }

    std::int32_t left = kIconWidth, right = 0;
    for (std::int32_t y = 0; y < kIconHeight; ++y)
        for (std::int32_t x = 0; x < kIconWidth; ++x)
            if (outlined[static_cast<std::size_t>(y * kIconWidth + x)] != 0)
            {
                left = std::min(left, x);
                right = std::max(right, x + 1);
            }
    icon = {};
    icon.height = kIconHeight;
    icon.width = right > left ? right - left : 0;
    for (std::int32_t y = 0; y < kIconHeight; ++y)
        for (std::int32_t x = left; x < right; ++x)
            icon.pixels.push_back(outlined[static_cast<std::size_t>(y * kIconWidth + x)]);
    return true;
}
} // namespace

SheetPicture DrawUnits(std::string& error)
{
    std::vector<SheetPicture> icons(kIcons.size());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kIcons.size(); ++i)
    {
        if (!MakeIcon(kIcons[i], icons[i], error))
            return {};
        names.push_back("icon " + std::to_string(i));
    }
    // Two blank columns keep the outlines of neighbours apart.
    return JoinCells(icons, 2, names, error);
}
