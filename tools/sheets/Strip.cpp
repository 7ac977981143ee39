#include "tools/sheets/Sheets.h"

SheetPicture JoinCells(const std::vector<SheetPicture>& cells, std::int32_t gap,
                       const std::vector<std::string>& names, std::string& error)
{
    if (cells.empty())
    {
        error = "no cells";
        return {};
    }
    SheetPicture sheet;
    sheet.height = cells.front().height;
    for (std::size_t i = 0; i < cells.size(); ++i)
    {
        const SheetPicture& cell = cells[i];
        const std::string name = i < names.size() ? names[i] : std::to_string(i);
        if (cell.height != sheet.height || cell.width <= 0)
        {
            error = "cell " + name + " is empty or of another height";
            return {};
        }
        for (std::int32_t x = 0; x < cell.width; ++x)
        {
            bool ink = false;
            for (std::int32_t y = 0; y < cell.height && !ink; ++y)
                ink = cell.pixels[static_cast<std::size_t>(y * cell.width + x)] != 0;
            if (!ink)
            {
                error = "cell " + name + " has a blank column at x = " + std::to_string(x);
                return {};
            }
        }
        sheet.width += cell.width + (i + 1 < cells.size() ? gap : 0);
    }

    sheet.pixels.assign(static_cast<std::size_t>(sheet.width * sheet.height), 0);
    std::int32_t left = 0;
    for (const SheetPicture& cell : cells)
    {
        for (std::int32_t y = 0; y < cell.height; ++y)
            for (std::int32_t x = 0; x < cell.width; ++x)
                sheet.pixels[static_cast<std::size_t>(y * sheet.width + left + x)] =
                    cell.pixels[static_cast<std::size_t>(y * cell.width + x)];
        left += cell.width + gap;
    }
    return sheet;
}
