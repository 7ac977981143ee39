#include "export/ExportFormat.h"

#include <algorithm>
#include <filesystem>

bool ExportFormatOf(const std::string& path, ExportFormat& format)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char c)
                   { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (ext == ".mp4")
        format = ExportFormat::Mp4;
    else if (ext == ".webm")
        format = ExportFormat::WebM;
    else if (ext == ".mkv")
        format = ExportFormat::Mkv;
    else if (ext == ".gif")
        format = ExportFormat::Gif;
    else if (ext == ".flac")
        format = ExportFormat::Flac;
    else if (ext == ".wav")
        format = ExportFormat::Wav;
    else
        return false;
    return true;
}
