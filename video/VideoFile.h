#pragma once

#include <string>

class CVideo;

// The eight bytes every ".dk2" file starts with.
inline constexpr char kVideoMagic[8] = {'T', 'R', 'E', 'L', 'L', 'O', 'N', '\0'};

// Saves `video` to `path`: the magic, then the video's body. The file is
// written beside the target under a temporary name and renamed over it only
// when every byte is on disk, so a failed save never destroys an earlier file
// of that name. Returns 1 when the whole file was written, 0 otherwise (the
// video's saved flag is then as it was before).
int SaveVideoFile(CVideo& video, const std::string& path);

// Reads `path` into `video`, which must hold no frames. Returns 1 on success.
// On failure returns 0 with `error` set to the message the user sees:
// "Error opening PATH", or "Error reading PATH" and a line with the reason.
int LoadVideoFile(CVideo& video, const std::string& path, std::string& error);
