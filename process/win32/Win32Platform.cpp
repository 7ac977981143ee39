// The platform operations on Windows, with the calls the game's own system
// offers: the window by FindWindowA, its process by
// GetWindowThreadProcessId, a handle from OpenProcess, reads with
// ReadProcessMemory and modules from a Toolhelp snapshot.
//
// The process is opened with the read and limited query rights only: the
// recorder never writes to the game, and those two rights are what a user
// gets on a game of his own without asking for more. A 64-bit TrellonHD reads
// the 32-bit game, so the module snapshot asks for the 32-bit modules as well.
//
// Two calls need help to give the backend's contract:
// - ReadProcessMemory copies all or nothing on many Windows versions (and on
//   Wine): a read that runs into an unmapped page fails (ERROR_PARTIAL_COPY)
//   and reports 0 bytes. The readable prefix is then
//   found by reading page by page, so that the caller still gets the short
//   count. That happens only when a read crosses the end of a mapping, never
//   on a capture tick's ordinary reads.
// - GetModuleInformation asks for more than the limited query right, and on a
//   64-bit caller it sees only the 64-bit loader list of a 32-bit game, where
//   the game's own DLLs are missing. When it fails, the module snapshot
//   confirms the base instead.

#include "process/Platform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
// windows.h first: the others take its types.
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
// clang-format on

struct PlatformProcess
{
    PlatformPid pid;
    HANDLE handle;
};

namespace
{
std::string g_strLastProblem;

// Snapshots fail with ERROR_BAD_LENGTH while the process loads or unloads a
// module; the documented remedy is to try again.
constexpr int kSnapshotAttempts = 8;

std::string SystemMessage(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text != nullptr ? std::string(text, length)
                                                         : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string OpenProblem(PlatformPid pid, DWORD error)
{
    const std::string process = "The game (process " + std::to_string(pid) + ")";
    if (error == ERROR_ACCESS_DENIED)
        return process +
               " was found but Windows denies reading its memory (access denied). The game "
               "runs as another user or elevated: run TrellonHD as the same user, or as "
               "administrator when the game runs as administrator.";
    if (error == ERROR_INVALID_PARAMETER)
        return process + " ended before it could be opened.";
    return process + " was found but can't be opened: " + SystemMessage(error) + ".";
}

bool ReadAll(HANDLE handle, std::uint64_t address, void* buffer, std::size_t size,
             std::size_t& copied)
{
    SIZE_T read = 0;
    const BOOL ok =
        ReadProcessMemory(handle, reinterpret_cast<LPCVOID>(address), buffer, size, &read);
    copied = read;
    return ok != FALSE;
}

// The bytes at `address` that can be read, up to `size`, copied into
// `buffer`: the first piece up to the next page boundary, then whole pages
// until one fails.
std::size_t ReadPrefix(HANDLE handle, std::uint64_t address, std::uint8_t* buffer, std::size_t size)
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const std::uint64_t page = system.dwPageSize != 0 ? system.dwPageSize : 4096;
    std::size_t done = 0;
    while (done < size)
    {
        const std::uint64_t at = address + done;
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - done, page - at % page));
        std::size_t copied = 0;
        if (!ReadAll(handle, at, buffer + done, piece, copied) || copied != piece)
            return done + (copied < piece ? copied : 0);
        done += piece;
    }
    return done;
}

// The module snapshot of `pid`, handed entry by entry to `visit` until it
// returns false. False when no snapshot could be taken.
template <typename Visit> bool WalkModules(PlatformPid pid, Visit visit)
{
    // Id 0 would make Toolhelp list this program's own modules.
    if (pid == 0)
        return false;
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kSnapshotAttempts && snapshot == INVALID_HANDLE_VALUE;
         ++attempt)
    {
        snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
        if (snapshot == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH)
            return false;
    }
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    {
        // szModule is NUL-terminated by the system; the bound guards a
        // snapshot that is not.
        const std::size_t length = strnlen(entry.szModule, sizeof(entry.szModule));
        const PlatformModule module{std::string(entry.szModule, length),
                                    reinterpret_cast<std::uintptr_t>(entry.modBaseAddr)};
        if (!visit(module))
            break;
        entry.dwSize = sizeof(entry);
    }
    CloseHandle(snapshot);
    return true;
}
} // namespace

PlatformPid PlatformFindWindowProcess(const char* title, std::uint64_t& window)
{
    window = 0;
    if (title == nullptr)
        return 0;
    HWND found = FindWindowA(nullptr, title);
    if (found == nullptr)
        return 0;
    DWORD pid = 0;
    if (GetWindowThreadProcessId(found, &pid) == 0 || pid == 0)
        return 0; // the window went away meanwhile
    window = reinterpret_cast<std::uintptr_t>(found);
    return pid;
}

std::string PlatformWindowProblem()
{
    return std::string(); // a Windows program always has a desktop to look at
}

PlatformProcess* PlatformOpenProcess(PlatformPid pid)
{
    g_strLastProblem.clear();
    if (pid == 0)
    {
        g_strLastProblem = "No game process to open.";
        return nullptr;
    }
    HANDLE handle = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (handle == nullptr)
    {
        g_strLastProblem = OpenProblem(pid, GetLastError());
        return nullptr;
    }
    return new PlatformProcess{pid, handle};
}

bool PlatformIsRunning(PlatformProcess* process)
{
    if (process == nullptr)
        return false;
    DWORD code = 0;
    return GetExitCodeProcess(process->handle, &code) != FALSE && code == STILL_ACTIVE;
}

bool PlatformRead(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size,
                  std::size_t& copied)
{
    copied = 0;
    if (process == nullptr || (buffer == nullptr && size != 0))
        return false;
    if (size == 0)
        return true;
    if (ReadAll(process->handle, address, buffer, size, copied))
        return copied != 0;
    // Windows says ERROR_PARTIAL_COPY here, Wine ERROR_NOACCESS; either way
    // a prefix may be readable.
    if (copied == 0)
        copied = ReadPrefix(process->handle, address, static_cast<std::uint8_t*>(buffer), size);
    return copied != 0;
}

void PlatformCloseProcess(PlatformProcess* process)
{
    if (process == nullptr)
        return;
    CloseHandle(process->handle);
    delete process;
}

bool PlatformListModules(PlatformPid pid, std::vector<PlatformModule>& modules)
{
    modules.clear();
    return WalkModules(pid,
                       [&](const PlatformModule& module)
                       {
                           modules.push_back(module);
                           return true;
                       });
}

bool PlatformModuleBase(PlatformProcess* process, std::uint64_t base, std::uint64_t& reported)
{
    if (process == nullptr || base == 0)
        return false;
    MODULEINFO info{};
    if (GetModuleInformation(process->handle, reinterpret_cast<HMODULE>(base), &info,
                             sizeof(info)) != FALSE)
    {
        reported = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
        return true;
    }
    bool found = false;
    WalkModules(process->pid,
                [&](const PlatformModule& module)
                {
                    found = module.base == base;
                    return !found;
                });
    if (found)
        reported = base;
    return found;
}

std::string PlatformLastProblem()
{
    return g_strLastProblem;
}
