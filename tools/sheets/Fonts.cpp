// Our two overlay fonts, drawn here pixel by pixel. Each group below shows its
// glyphs side by side as they look ('#' ink, '.' empty), one word per glyph
// and row; the label lists the characters the words stand for.
//
// Font 1: capitals and figures 7 rows high, lower case 5 rows with one
// descender row (g, p, q, y sit one row higher than a book face would put
// them). Font 2 shares its letters but is one row shorter, with bold figures
// and punctuation for hit points, energy and percentages.
//
// A glyph must not contain a column without ink: the sheet loader splits cells
// at blank columns. Glyphs that are two strokes side by side in most fonts
// (the double quote, the percent sign) are therefore drawn with their strokes
// meeting in a column, and JoinCells checks every glyph.

#include "tools/sheets/Sheets.h"

#include <array>
#include <map>
#include <sstream>

namespace
{
struct GlyphGroup
{
    const char* label;
    std::vector<const char*> rows;
};

const std::vector<GlyphGroup> kFont1 = {
    {"!\"#$%&'()*+,-./",
     {"# .#.# .#.#. ..#.. ##... .##.. # .# #. ..... ..... .. .... . ..#",
      "# #.#. .#.#. .#### ##..# #..#. # #. .# ..#.. ..#.. .. .... . ..#",
      "# .... ##### #.#.. ...#. #.#.. . #. .# #.#.# ..#.. .. .... . .#.",
      "# .... .#.#. .###. ..#.. .#... . #. .# .###. ##### .. #### . .#.",
      "# .... ##### ..#.# .#... #.#.# . #. .# #.#.# ..#.. .. .... . .#.",
      ". .... .#.#. ####. #..## #..#. . #. .# ..#.. ..#.. .. .... . #..",
      "# .... .#.#. ..#.. ...## .##.# . .# #. ..... ..... .# .... # #..",
      ". .... ..... ..... ..... ..... . .. .. ..... ..... #. .... . ..."}},
    {"0123456789:;<=>?@",
     {".##. .#. .##. ###. ..## #### .##. #### .##. .##. . .. ... .... ... .##. .###.",
      "#..# ##. #..# ...# .#.# #... #... ...# #..# #..# . .. ..# .... #.. #..# #...#",
      "#..# .#. ...# ...# #..# ###. #... ..#. #..# #..# # .# .#. #### .#. ...# #.###",
      "#..# .#. ..#. .##. #### ...# ###. ..#. .##. .### . .. #.. .... ..# ..#. #.#.#",
      "#..# .#. .#.. ...# ...# ...# #..# .#.. #..# ...# . .. .#. #### .#. .#.. #.###",
      "#..# .#. #... ...# ...# #..# #..# .#.. #..# ...# . .. ..# .... #.. .... #....",
      ".##. ### #### ###. ...# .##. .##. .#.. .##. .##. # .# ... .... ... .#.. .###.",
      ".... ... .... .... .... .... .... .... .... .... . #. ... .... ... .... ....."}},
    {"ABCDEFGHIJKLM",
     {".##. ###. .##. ###. #### #### .##. #..# ### ...# #..# #... #...#",
      "#..# #..# #..# #..# #... #... #..# #..# .#. ...# #..# #... ##.##",
      "#..# #..# #... #..# #... #... #... #..# .#. ...# #.#. #... #.#.#",
      "#### ###. #... #..# ###. ###. #.## #### .#. ...# ##.. #... #.#.#",
      "#..# #..# #... #..# #... #... #..# #..# .#. ...# #.#. #... #...#",
      "#..# #..# #..# #..# #... #... #..# #..# .#. #..# #..# #... #...#",
      "#..# ###. .##. ###. #### #... .### #..# ### .##. #..# #### #...#",
      ".... .... .... .... .... .... .... .... ... .... .... .... ....."}},
    {"NOPQRSTUVWXYZ",
     {"#..# .##. ###. .##. ###. .##. ##### #..# #...# #...# #...# #...# ####",
      "##.# #..# #..# #..# #..# #..# ..#.. #..# #...# #...# #...# #...# ...#",
      "##.# #..# #..# #..# #..# #... ..#.. #..# #...# #...# .#.#. .#.#. ..#.",
      "#.## #..# ###. #..# ###. .##. ..#.. #..# #...# #.#.# ..#.. ..#.. ..#.",
      "#.## #..# #... #..# #.#. ...# ..#.. #..# .#.#. #.#.# .#.#. ..#.. .#..",
      "#..# #..# #... #.#. #..# #..# ..#.. #..# .#.#. ##.## #...# ..#.. #...",
      "#..# .##. #... .#.# #..# .##. ..#.. .##. ..#.. #...# #...# ..#.. ####",
      ".... .... .... .... .... .... ..... .... ..... ..... ..... ..... ...."}},
    {"[\\]^_`",
     {"## #.. ## .#. .... #.", "#. #.. .# #.# .... .#", "#. .#. .# ... .... ..",
      "#. .#. .# ... .... ..", "#. .#. .# ... .... ..", "#. ..# .# ... .... ..",
      "## ..# ## ... .... ..", ".. ... .. ... #### .."}},
    {"abcdefghijklm",
     {".... #... ... ...# .... .## .... #... # .# #... #. .....",
      ".... #... ... ...# .... #.. .... #... . .. #... #. .....",
      ".##. ###. .## .### .##. ### .### ###. # .# #..# #. ####.",
      "...# #..# #.. #..# #..# #.. #..# #..# # .# #.#. #. #.#.#",
      ".### #..# #.. #..# #### #.. #..# #..# # .# ##.. #. #.#.#",
      "#..# #..# #.. #..# #... #.. .### #..# # .# #.#. #. #.#.#",
      ".### ###. .## .### .### #.. ...# #..# # .# #..# .# #.#.#",
      ".... .... ... .... .... ... ###. .... . #. .... .. ....."}},
    {"nopqrstuvwxyz",
     {".... .... .... .... ... .... .#. .... ..... ..... ..... .... ....",
      ".... .... .... .... ... .... .#. .... ..... ..... ..... .... ....",
      "###. .##. ###. .### #.# .### ### #..# #...# #...# #...# #..# ####",
      "#..# #..# #..# #..# ##. #... .#. #..# #...# #...# .#.#. #..# ..#.",
      "#..# #..# #..# #..# #.. .##. .#. #..# .#.#. #.#.# ..#.. #..# .#..",
      "#..# #..# ###. .### #.. ...# .#. #..# .#.#. #.#.# .#.#. .### #...",
      "#..# .##. #... ...# #.. ###. ..# .### ..#.. .#.#. #...# ...# ####",
      ".... .... #... ...# ... .... ... .... ..... ..... ..... ###. ...."}},
    {"{|}~",
     {".## # ##. .....", ".#. # .#. .....", ".#. # .#. .#...", "#.. # ..# #.#.#", ".#. # .#. ...#.",
      ".#. # .#. .....", ".## # ##. .....", "... . ... ....."}},
};

// Font 2's own glyphs; every other glyph is font 1's without its last row,
// which must then be empty.
const std::vector<GlyphGroup> kFont2 = {
    {"0123456789",
     {".###. .##. .###. ####. ...## ##### .###. ##### .###. .###.",
      "##.## ###. ##.## ...## ..### ##... ##... ...## ##.## ##.##",
      "##.## .##. ...## ...## .#.## ####. ##... ..##. ##.## ##.##",
      "##.## .##. ..##. .###. #..## ...## ####. ..##. .###. .####",
      "##.## .##. .##.. ...## ##### ...## ##.## .##.. ##.## ...##",
      "##.## .##. ##... ...## ...## ##.## ##.## .##.. ##.## ...##",
      ".###. #### ##### ####. ...## .###. .###. .##.. .###. .###."}},
    {".,:;/%_+-",
     {".. .. .. .. ..## ##.... .... ..... ....", ".. .. ## ## ..## ##..## .... ..#.. ....",
      ".. .. ## ## .##. ...##. .... ..#.. ....", ".. .. .. .. .##. ..##.. .... ##### ####",
      ".. ## .. ## .##. .##... .... ..#.. ....", "## ## ## ## ##.. ##..## .... ..#.. ....",
      "## #. ## #. ##.. ....## #### ..... ...."}},
    {"gjpqy",
     {".... .# .... .... ....", ".... .. .... .... ....", ".### .# ###. .### #..#",
      "#..# .# #..# #..# #..#", ".### .# ###. .### .###", "...# .# #... ...# ...#",
      "###. #. #... ...# ###."}},
};

using GlyphMap = std::map<char, SheetPicture>;

// Cuts each group into glyphs and adds them to `glyphs` by character.
bool ParseGroups(const std::vector<GlyphGroup>& groups, std::int32_t height, GlyphMap& glyphs,
                 std::string& error)
{
    for (const GlyphGroup& group : groups)
    {
        const std::string label = group.label;
        if (group.rows.size() != static_cast<std::size_t>(height))
        {
            error = "group \"" + label + "\" has the wrong number of rows";
            return false;
        }
        std::vector<SheetPicture> cut(label.size());
        for (std::int32_t y = 0; y < height; ++y)
        {
            std::istringstream words(group.rows[static_cast<std::size_t>(y)]);
            std::string word;
            std::size_t k = 0;
            for (; words >> word; ++k)
            {
                if (k >= cut.size())
                    break;
                SheetPicture& glyph = cut[k];
                if (y == 0)
                {
                    glyph.width = static_cast<std::int32_t>(word.size());
                    glyph.height = height;
                }
                if (static_cast<std::int32_t>(word.size()) != glyph.width)
                {
                    error = std::string("glyph '") + label[k] + "' has rows of different widths";
                    return false;
                }
                for (char c : word)
                    glyph.pixels.push_back(c == '#' ? kInkIndex : 0);
            }
            if (k != cut.size() || words >> word)
            {
                error = "group \"" + label + "\" row " + std::to_string(y) +
                        " does not have one word per character";
                return false;
            }
        }
        for (std::size_t k = 0; k < label.size(); ++k)
            glyphs[label[k]] = std::move(cut[k]);
    }
    return true;
}

SheetPicture JoinFont(const GlyphMap& glyphs, std::string& error)
{
    std::vector<SheetPicture> cells;
    std::vector<std::string> names;
    for (int code = 33; code <= 126; ++code)
    {
        const auto it = glyphs.find(static_cast<char>(code));
        if (it == glyphs.end())
        {
            error = std::string("no glyph for '") + static_cast<char>(code) + "'";
            return {};
        }
        cells.push_back(it->second);
        names.push_back(std::string("'") + static_cast<char>(code) + "'");
    }
    return JoinCells(cells, 1, names, error);
}
} // namespace

SheetPicture DrawFont1(std::string& error)
{
    GlyphMap glyphs;
    if (!ParseGroups(kFont1, 8, glyphs, error))
        return {};
    return JoinFont(glyphs, error);
}

SheetPicture DrawFont2(std::string& error)
{
    GlyphMap base;
    if (!ParseGroups(kFont1, 8, base, error))
        return {};
    GlyphMap glyphs;
    if (!ParseGroups(kFont2, 7, glyphs, error))
        return {};
    for (auto& [c, glyph] : base)
    {
        if (glyphs.count(c) != 0)
            continue;
        const auto rowBytes = static_cast<std::ptrdiff_t>(glyph.width);
        for (auto p = glyph.pixels.end() - rowBytes; p != glyph.pixels.end(); ++p)
            if (*p != 0)
            {
                error = std::string("font 2 needs its own glyph for '") + c + "'";
                return {};
            }
        glyph.pixels.resize(glyph.pixels.size() - static_cast<std::size_t>(rowBytes));
        glyph.height = 7;
        glyphs[c] = std::move(glyph);
    }
    return JoinFont(glyphs, error);
}
