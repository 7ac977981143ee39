// trellon-sheets: draws our fonts and unit icons and writes them as the
// sheets the recorder loads, "font1.bmp", "font2.bmp" and "units.bmp".

#include "tools/sheets/Sheets.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
constexpr int kPreviewScale = 4;

int Usage(const char* problem)
{
    if (problem != nullptr)
        std::fprintf(stderr, "trellon-sheets: %s\n", problem);
    std::fprintf(problem != nullptr ? stderr : stdout,
                 "usage: trellon-sheets [--out DIR] [--preview FILE.png]\n"
                 "  writes font1.bmp, font2.bmp and units.bmp into DIR (default: .);\n"
                 "  --preview also draws a sample of both fonts and the icons, %dx.\n",
                 kPreviewScale);
    return problem != nullptr ? 2 : 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::string dir = ".", preview;
    for (int i = 1; i < argc; ++i)
    {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--out") == 0 && hasValue)
            dir = argv[++i];
        else if (std::strcmp(argv[i], "--preview") == 0 && hasValue)
            preview = argv[++i];
        else if (std::strcmp(argv[i], "--help") == 0)
            return Usage(nullptr);
        else
            return Usage((std::string("unexpected argument '") + argv[i] + "'").c_str());
    }

    const SheetPalette palette = MakeSheetPalette();
    struct Output
    {
        const char* name;
        SheetPicture (*draw)(std::string&);
    };
    for (const Output& output : {Output{"font1.bmp", DrawFont1}, Output{"font2.bmp", DrawFont2},
                                 Output{"units.bmp", DrawUnits}})
    {
        std::string error;
        const SheetPicture picture = output.draw(error);
        if (picture.width == 0)
        {
            std::fprintf(stderr, "trellon-sheets: %s: %s\n", output.name, error.c_str());
            return 1;
        }
        const std::string path = dir + "/" + output.name;
        if (!WriteBmp(path, picture, palette))
        {
            std::fprintf(stderr, "trellon-sheets: cannot write %s\n", path.c_str());
            return 1;
        }
    }

    if (!preview.empty())
    {
        std::string error;
        if (!WritePreview(preview, dir, palette, kPreviewScale, error))
        {
            std::fprintf(stderr, "trellon-sheets: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
