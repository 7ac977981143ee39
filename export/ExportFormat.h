#pragma once

#include <string>

// The formats export writes, told apart by the output's extension: the
// video formats, then those of the sound alone. Kept apart from the export
// itself, which needs FFmpeg, so that every build recognises the names.
enum class ExportFormat
{
    Mp4,
    WebM,
    Mkv,
    Gif,
    Flac, // the sound alone, lossless
    Wav,  // the sound alone, 16-bit PCM
};

// Whether `format` holds the sound alone, no pictures.
constexpr bool IsSoundOnly(ExportFormat format)
{
    return format == ExportFormat::Flac || format == ExportFormat::Wav;
}

// The format for an output path's extension (case ignored); false for none.
bool ExportFormatOf(const std::string& path, ExportFormat& format);
