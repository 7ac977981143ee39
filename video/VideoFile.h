#pragma once

#include <string>

class CVideo;

// The eight bytes every ".dk2" file starts with.
inline constexpr char kVideoMagic[8] = {'T', 'R', 'E', 'L', 'L', 'O', 'N', '\0'};

// Saves `video` to `path`: the magic, then the video's body. The file takes
// the target's name only when every byte is on disk (see CAtomicFile), so a
// failed or killed save never destroys an earlier file of that name and
// leaves nothing behind. Returns 1 when the whole file was written, 0
// otherwise, with the system's reason in `reason` when one is given (the
// video's saved flag is then as it was before).
int SaveVideoFile(CVideo& video, const std::string& path, std::string* reason = nullptr);

// Reads `path` into `video`, which must hold no frames. Returns 1 on success.
// On failure returns 0 with `error` set to the message the user sees:
// "Error opening PATH" or "Error reading PATH", then a line with the reason
// (empty where the file ends before the records its header announces).
int LoadVideoFile(CVideo& video, const std::string& path, std::string& error);
