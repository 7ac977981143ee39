// Reads any bytes as a recording journal and recovers what it holds.
#include "video/Journal.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A folder of this run's own, gone when the run ends.
    struct Folder
    {
        std::string path = "/tmp/fuzz_journal-" + std::to_string(getpid());
        bool made = mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
        ~Folder()
        {
            std::remove((path + "/in.trj").c_str());
            std::remove((path + "/out.dk2").c_str());
            rmdir(path.c_str());
        }
    };
    static const Folder folder;
    if (!folder.made)
        return 0;
    const std::string& dir = folder.path;
    const std::string journal = dir + "/in.trj", out = dir + "/out.dk2";
    std::FILE* file = std::fopen(journal.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    JournalSummary summary;
    std::string error;
    if (ScanJournal(journal, summary, error) && summary.frames > 0)
        RecoverJournal(journal, out, summary, error);
    std::remove(out.c_str());
    return 0;
}
