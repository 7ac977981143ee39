#pragma once

#include <string>

// The video formats export writes, told apart by the output's extension.
// Kept apart from the export itself, which needs FFmpeg, so that every build
// recognises the names.
enum class ExportFormat
{
    Mp4,
    WebM,
    Mkv,
    Gif,
};

// The format for an output path's extension (case ignored); false for none.
bool ExportFormatOf(const std::string& path, ExportFormat& format);
