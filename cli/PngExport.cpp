// trellon export: frames as 8-bit palette PNG files, one per frame, named by
// the 1-based frame number.

#include "cli/Commands.h"
#include "export/ExportFormat.h"
#include "export/IndexedPng.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

bool IsVideoExportPath(const std::string& path)
{
    ExportFormat format;
    return ExportFormatOf(path, format);
}

namespace
{
// The names this command gives its frames: the 1-based frame number in six
// or more digits, then ".png".
bool IsFrameFileName(const std::string& name)
{
    const std::size_t digits = name.size() >= 4 ? name.size() - 4 : 0;
    if (digits < 6 || name.compare(digits, 4, ".png") != 0)
        return false;
    return std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(digits),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The frame files of an earlier export in `dir`.
std::vector<std::filesystem::path> FrameFilesIn(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (IsFrameFileName(Utf8Text(it->path().filename())))
            found.push_back(it->path());
    return found;
}

// What `trellon export IN DIR` was asked to do.
struct PngExportOptions
{
    std::string in;
    std::filesystem::path dir;
    int first = 1, last = std::numeric_limits<int>::max();
    bool cursor = false, force = false;
};

// Reads the words after "export"; 0, or the exit status of a usage error.
int ParsePngExportOptions(const std::vector<std::string>& args, PngExportOptions& options)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (args[i] == "--first" || args[i] == "--last")
        {
            if (i + 1 >= args.size() ||
                !ParseInt(args[i + 1], args[i] == "--first" ? options.first : options.last, 1,
                          std::numeric_limits<int>::max()))
                return UsageError(args[i] + " needs a frame number from 1 to " +
                                  std::to_string(std::numeric_limits<int>::max()));
            ++i;
        }
        else if (args[i] == "--cursor")
            options.cursor = true;
        else if (args[i] == "--force")
            options.force = true;
        else if (args[i].rfind("--", 0) == 0)
            return UsageError("unknown option '" + args[i] + "'");
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2)
        return UsageError("export takes IN DIR");
    options.in = positional[0];
    options.dir = Utf8Path(positional[1]);
    return 0;
}

// Makes the folder, and takes out the frames of an earlier export, which
// would mix with these ones. An empty text, or why it can't.
std::string PrepareFolder(const std::filesystem::path& dir, bool force)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return "cannot create " + Utf8Text(dir) + ": " + ec.message();
    const auto earlier = FrameFilesIn(dir);
    if (!earlier.empty() && !force)
        return Utf8Text(dir) + " holds " + std::to_string(earlier.size()) +
               " frame files of an earlier export; give --force to replace them";
    for (const auto& old : earlier)
        if (!std::filesystem::remove(old, ec) && ec)
            return "cannot remove " + Utf8Text(old) + ": " + ec.message();
    return {};
}

// Writes frame `n` as DIR/NNNNNN.png. Each picture takes its name only when
// complete: a full disk leaves no truncated file behind. An empty text, or
// why it failed.
std::string WriteFrameFile(const std::filesystem::path& dir, int n, const std::uint8_t* picture,
                           int width, int height, const std::uint8_t* palette)
{
    char name[32];
    std::snprintf(name, sizeof(name), "%06d.png", n);
    const std::string path = (dir / name).string();
    CAtomicFile file(path, false);
    std::string reason;
    std::FILE* stream = file.Open(reason);
    if (stream == nullptr)
        return "frame " + std::to_string(n) + ": Error writing to " + path + ": " + reason;
    errno = 0;
    if (!WriteIndexedPng(stream, picture, width, height, palette, 4))
        reason = errno != 0 ? std::strerror(errno) : "the picture could not be encoded";
    else if (file.Commit(reason))
        return {};
    return "frame " + std::to_string(n) + ": Error writing to " + path + ": " + reason;
}

// Writes frames first..last, with progress once a second; the exit status.
int WriteFrames(const CVideo& video, const PngExportOptions& options, int last)
{
    const int width = video.GetWidth(), height = video.GetHeight();
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    std::uint8_t palette[kPaletteBytes];
    const int first = options.first, total = last - first + 1;
    int written = 0, skipped = 0;
    using Clock = std::chrono::steady_clock;
    auto nextReport = Clock::now() + std::chrono::seconds(1);
    bool reported = false;
    for (int n = first; n <= last; ++n)
    {
        if (!video.GetPalette(n - 1, palette))
        {
            ++skipped; // a damaged record: no colours to write it with
            continue;
        }
        video.GetFrame(n - 1, picture.data(), options.cursor);
        const std::string fault =
            WriteFrameFile(options.dir, n, picture.data(), width, height, palette);
        if (!fault.empty())
            return Fail(fault);
        ++written;
        const auto now = Clock::now();
        if (now >= nextReport)
        {
            std::fprintf(stderr, "\rexport: %d/%d frames", n - first + 1, total);
            nextReport = now + std::chrono::seconds(1);
            reported = true;
        }
    }
    if (reported)
        std::fprintf(stderr, "\rexport: %d/%d frames\n", total, total);
    std::printf("%s: %d frames written", options.dir.string().c_str(), written);
    if (skipped > 0)
        std::printf(", %d without a palette skipped", skipped);
    std::printf("\n");
    return 0;
}
} // namespace

int RunExport(const std::vector<std::string>& args)
{
    for (const std::string& arg : args)
        if (arg.rfind("--", 0) != 0 && IsVideoExportPath(arg))
            return RunVideoExport(args);
    PngExportOptions options;
    if (const int usage = ParsePngExportOptions(args, options); usage != 0)
        return usage;
    if (options.first > options.last)
        return Fail("--first (" + std::to_string(options.first) + ") is above --last (" +
                    std::to_string(options.last) + ")");

    CVideo video;
    std::string error;
    if (!LoadVideoFile(video, options.in, error))
        return Fail(OneLine(error));
    const int frames = video.GetFrameCount();
    const int last = std::min(options.last, frames);
    if (options.first > last)
        return Fail("no frames in " + std::to_string(options.first) + ".." + std::to_string(last) +
                    " (the video has " + std::to_string(frames) + ")");
    if (const std::string fault = PrepareFolder(options.dir, options.force); !fault.empty())
        return Fail(fault);
    return WriteFrames(video, options, last);
}
