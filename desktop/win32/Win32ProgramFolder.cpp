// The program's own folder on Windows: the folder of the executable's module.

#include "desktop/ProgramFolder.h"

#include <algorithm>
#include <string>

// clang-format off
#include <windows.h>
// clang-format on

namespace
{
// The longest program path GetModuleFileNameW is asked for (the system's
// own limit for long paths).
constexpr DWORD kMaxPathChars = 32768;
} // namespace

std::string PlatformProgramDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size())
        {
            path.resize(length);
            break;
        }
        if (path.size() >= kMaxPathChars)
            return std::string();
        path.resize(std::min<std::size_t>(path.size() * 2, kMaxPathChars));
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return std::string();
    path.resize(slash);
    // The callers open files with the narrow C library, which takes the
    // system's code page; a folder that has no spelling in it can't be told.
    BOOL lossy = FALSE;
    const int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(),
                            static_cast<int>(path.size()), nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy)
        return std::string();
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()),
                        narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}
