// trellon export to a video file where this build has no FFmpeg (Windows):
// the PNG frames remain.

#include "Commands.h"

#include <filesystem>

bool IsVideoExportPath(const std::string& path)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    return ext == ".mp4" || ext == ".webm" || ext == ".mkv" || ext == ".gif";
}

int RunVideoExport(const std::vector<std::string>&)
{
    return Fail("this build exports frames as PNG files only (give a folder); video files "
                "need FFmpeg");
}
