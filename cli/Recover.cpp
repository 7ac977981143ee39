// trellon recover: the journals of recordings that were never saved (the
// recorder crashed or was killed), listed, and turned back into ".dk2" files.

#include "cli/Commands.h"
#include "manager/VideoManager.h"
#include "video/FileAccess.h"
#include "video/Journal.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace
{
std::string StartText(std::int64_t startMs)
{
    const std::string text = JournalStartText(startMs, false);
    return text.empty() ? "an unknown time" : text;
}

int List(const std::string& folder)
{
    const std::vector<std::string> journals = ListJournals(folder);
    int shown = 0;
    for (const std::string& path : journals)
    {
        JournalSummary summary;
        std::string error;
        if (!ScanJournal(path, summary, error))
        {
            std::printf("%s: %s\n", path.c_str(), error.c_str());
            continue;
        }
        std::printf("%s\n  started %s, %lld bytes, %d frames of %d x %d%s\n", path.c_str(),
                    StartText(summary.header.startMs).c_str(),
                    static_cast<long long>(summary.fileBytes), summary.frames, summary.header.width,
                    summary.header.height, summary.cut ? " (a torn end was dropped)" : "");
        ++shown;
    }
    if (shown == 0)
        std::printf("no unsaved recordings in %s\n", folder.c_str());
    else
        std::printf("turn one into a video with: trellon recover JOURNAL OUT.dk2\n");
    return 0;
}
} // namespace

int RunRecover(const std::vector<std::string>& args)
{
    if (args.empty())
    {
        const std::string folder = CVideoManager::DefaultJournalFolder();
        if (folder.empty())
            return Fail("no folder for journals: HOME is not set");
        return List(folder);
    }
    if (args.size() != 2)
        return UsageError("recover takes no arguments, or JOURNAL OUT.dk2");
    const std::string &journal = args[0], &out = args[1];
    if (IsFileLockedByOther(journal))
        return Fail(journal + " belongs to a recording in progress");
    std::error_code ec;
    if (std::filesystem::exists(Utf8Path(out), ec))
        return Fail(out + " already exists; choose another name");
    JournalSummary summary;
    std::string error;
    if (!RecoverJournal(journal, out, summary, error))
        return Fail(journal + ": " + error);
    std::printf("%s: %d frames of %d x %d recovered%s\n", out.c_str(), summary.frames,
                summary.header.width, summary.header.height,
                summary.cut ? " (a torn end was dropped)" : "");
    std::filesystem::remove(Utf8Path(journal), ec);
    return 0;
}
