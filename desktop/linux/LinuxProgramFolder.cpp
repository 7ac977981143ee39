// The program's own folder on Linux: where /proc/self/exe points.

#include "desktop/ProgramFolder.h"

#include <filesystem>
#include <system_error>

std::string PlatformProgramDirectory()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}
