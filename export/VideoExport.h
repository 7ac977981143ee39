#pragma once

#include "export/ExportFormat.h"

#include <functional>
#include <string>

class CVideo;

// Export of a recording as a video file that common players and sites take,
// through FFmpeg's libraries: MP4 (H.264, yuv420p), WebM (VP9), lossless MKV
// (FFV1 over RGB: every pixel the recording's colour) and GIF (the
// recording's own palettes, no dithering). The output's extension picks the
// format.
//
// The recording's sound goes with the pictures, from the first exported
// frame to the end of the last: AAC in MP4, Opus (48 kHz) in WebM, FLAC in
// MKV (the recorded samples exactly); GIF has none. FLAC and WAV (16-bit
// PCM) files hold the sound of that span alone.
//
// Frame times follow the recording's time stamps (a variable frame rate; a
// recording of 60 seconds gives 60 seconds), or with `fps` a constant rate
// at which each output frame shows the recorded frame on screen at its time.
// The file is written through the atomic writer (FileAccess.h) and takes
// its name only when complete and on the disk: a failure, a cancel or a kill
// leaves nothing beside the target.

struct ExportOptions
{
    int first = 1;         // 1-based, inclusive
    int last = 0x7FFFFFFF; // cut at the video's end
    int scale = 1;         // nearest-pixel enlargement, 1 to kMaxExportScale
    int fps = 0;           // 0: the recording's own time stamps
    int quality = -1;      // CRF for H.264 and VP9; -1: the format's default
    bool cursor = false;   // draw the mouse pointer marker
    bool sound = true;     // the recording's sound with the pictures, where it has some
};

inline constexpr int kMaxExportScale = 8;
inline constexpr int kMaxExportFps = 240;

// Writes frames options.first..options.last of `video` to `out`. `progress`
// (frames done, frames in all) is called after every frame; returning false
// cancels, and nothing is left behind. False, with the reason, on failure
// (a sound-only format of a recording without sound: "the recording has no
// sound").
bool ExportVideo(const CVideo& video, const std::string& out, ExportFormat format,
                 const ExportOptions& options, const std::function<bool(int, int)>& progress,
                 std::string& error);
