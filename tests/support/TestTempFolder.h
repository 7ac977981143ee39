#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// A folder of this test process under the system's temporary folder, made
// on first use and removed with everything in it when the process ends, so
// that tests leave nothing behind. Children forked by a test end with _exit
// and leave it to their parent.
inline const std::filesystem::path& TestTempFolder()
{
    struct Folder
    {
        std::filesystem::path path;
        pid_t owner;
        ~Folder()
        {
            std::error_code ec;
            if (getpid() == owner)
                std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder = []
    {
        const auto path = std::filesystem::temp_directory_path() /
                          ("trellon-tests-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return Folder{path, getpid()};
    }();
    return folder.path;
}
