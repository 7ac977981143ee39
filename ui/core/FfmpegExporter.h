#pragma once

#include "export/ExportFormat.h"

#include <functional>
#include <string>

class CVideo;

// The video export of export/VideoExport.h as the dialog's logic calls it
// (a VideoExporter, TrellonCore.h): the front ends hand it to CTrellonCore
// where the build has FFmpeg. It lives apart from trellon_ui_core, so that
// the core's own tests and a build without FFmpeg need none.
bool ExportThroughFfmpeg(const CVideo& video, const std::string& path, ExportFormat format,
                         int first, int last, int scale, bool cursor,
                         const std::function<bool(int, int)>& progress, std::string& error);
