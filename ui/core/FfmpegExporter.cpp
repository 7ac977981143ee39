#include "ui/core/FfmpegExporter.h"

#include "export/VideoExport.h"

bool ExportThroughFfmpeg(const CVideo& video, const std::string& path, ExportFormat format,
                         int first, int last, int scale, bool cursor,
                         const std::function<bool(int, int)>& progress, std::string& error)
{
    ExportOptions options;
    options.first = first;
    options.last = last;
    options.scale = scale;
    options.cursor = cursor;
    return ExportVideo(video, path, format, options, progress, error);
}
