// trellon export to a video file where this build has no FFmpeg (Windows):
// the PNG frames remain.

#include "cli/Commands.h"

int RunVideoExport(const std::vector<std::string>&)
{
    return Fail("this build exports frames as PNG files only (give a folder); video files "
                "need FFmpeg");
}
