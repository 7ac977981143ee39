#include "tools/gamesim/GameMemory.h"

#include <cstdio>
#include <filesystem>
#include <windows.h>

// The demo's memory on Windows. The buffers and tables far from the program
// come from VirtualAlloc at their fixed addresses. The game's variables
// can't: 0x00400000 .. 0x00500000 is where executables are based, and
// 64-bit Wine keeps that range reserved for them, so VirtualAlloc there
// fails with ERROR_INVALID_ADDRESS even when no image lies there.
// gamesim.exe is therefore linked at 0x00400000 with its first section,
// .gamevar, a zero-filled block right after the headers (see
// tools/gamesim/CMakeLists.txt), and the variables live in it. The block is
// declared in assembly because only there can it be marked uninitialised
// ("b"), which keeps a megabyte of zeros out of the file.
//
// The wrapper is a PE32+ image (this process is 64-bit) written to a folder
// of its own in the temporary folder and loaded with LoadLibrary, so that
// it is in the module list like any library the game loads. Where the
// loader prefers a library of its own by that name (Wine's ddraw.dll), the
// file is mapped instead (LoadWrapper says more). A loaded or mapped file
// can't be deleted, so the folder goes when the demo ends.

asm(".section .gamevar,\"bw\"\n"
    "\t.globl gamesim_variables\n"
    "\t.p2align 12\n"
    "gamesim_variables:\n"
    "\t.space 0xFF000\n"
    "\t.text\n");
extern "C" std::uint8_t gamesim_variables[0xFF000];

namespace
{
// The part of the variables' range that the demo writes: the version byte
// (0x0048807B) up to its own frame counter (0x004F0000).
constexpr std::uint32_t kNeededBegin = 0x00480000;
constexpr std::uint32_t kNeededEnd = 0x00500000;
constexpr std::uint64_t kFourGiB = 0x100000000;

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::string LastError()
{
    return "error " + std::to_string(GetLastError());
}

// The name Wine's DLL overrides take: the file name without ".dll", in
// lower case.
std::string ModuleStem(const std::string& name)
{
    std::string stem = name;
    if (stem.size() > 4 && _stricmp(stem.c_str() + stem.size() - 4, ".dll") == 0)
        stem.resize(stem.size() - 4);
    for (char& c : stem)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return stem;
}

// Maps the wrapper's file at its image base as a writable private copy.
bool MapWrapperFile(const std::string& path, std::size_t size, std::uint8_t*& base,
                    std::string& error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        error = "can't open " + path + ": " + LastError();
        return false;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
    CloseHandle(file);
    if (mapping == nullptr)
    {
        error = "can't map " + path + ": " + LastError();
        return false;
    }
    void* wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(CGameMemory::kWrapperBase));
    void* view = MapViewOfFileEx(mapping, FILE_MAP_COPY, 0, 0, size, wanted);
    const std::string mapError = LastError();
    CloseHandle(mapping);
    if (view != wanted)
    {
        if (view)
            UnmapViewOfFile(view);
        error = "can't map " + path + " at " + Hex(CGameMemory::kWrapperBase) + ": " + mapError;
        return false;
    }
    base = static_cast<std::uint8_t*>(view);
    return true;
}
} // namespace

bool CGameMemory::MapVariables(std::string& error)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(gamesim_variables);
    const std::uintptr_t end = begin + sizeof(gamesim_variables);
    if (begin > kNeededBegin || end < kNeededEnd)
    {
        error = "the game's variables " + Hex(kNeededBegin) + " .. " + Hex(kNeededEnd) +
                " are not in gamesim.exe's .gamevar block, which lies at " + Hex(begin) + " .. " +
                Hex(end) + " (the executable must be based at 0x00400000 with .gamevar first)";
        return false;
    }
    m_pVariables = gamesim_variables;
    m_nVariablesBegin = static_cast<std::uint32_t>(begin);
    m_nVariablesEnd = static_cast<std::uint32_t>(end);
    return true;
}

std::uint8_t* CGameMemory::MapAt(std::uint32_t address, std::size_t size, std::string& error)
{
    void* wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
    void* p = VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p != wanted)
    {
        error = "can't allocate game memory at " + Hex(address) + ": " + LastError();
        if (p)
            VirtualFree(p, 0, MEM_RELEASE);
        return nullptr;
    }
    return static_cast<std::uint8_t*>(p);
}

bool CGameMemory::LoadWrapper(const std::string& wrapperName, std::string& error)
{
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof(temp), temp);
    if (length == 0 || length > MAX_PATH)
    {
        error = "can't find the temporary folder: " + LastError();
        return false;
    }
    // A folder named after this process: one left by a killed demo is
    // removed by the next demo that gets its process id.
    const std::string dir = std::string(temp) + "gamesim-" + std::to_string(GetCurrentProcessId());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (!CreateDirectoryA(dir.c_str(), nullptr))
    {
        error = "can't make the folder " + dir + " for " + wrapperName + ": " + LastError();
        return false;
    }
    m_strWrapperDir = dir;

    std::uint32_t bitsRva = 0;
    const std::vector<std::uint8_t> image = WrapperImage(wrapperName, true, kWrapperBase, bitsRva);
    const std::string path = m_strWrapperDir + "\\" + wrapperName;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool wrote =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr) &&
        written == image.size();
    const std::string writeError = LastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!wrote)
    {
        error = "can't write " + path + ": " + writeError;
        return false;
    }

    // Windows loads the file named by its path. Wine prefers its own
    // ddraw.dll unless told otherwise (WINEDLLOVERRIDES=ddraw=n): the module
    // it gives then lacks our export, and the file is mapped instead, at the
    // image's base as a copy-on-write view. Its layout is the loaded one,
    // and Wine maps file views from the file, so /proc/PID/maps (the module
    // list of the Linux recorder) names it all the same; the Toolhelp
    // snapshot doesn't list it.
    std::uint8_t* base = nullptr;
    if (HMODULE module = LoadLibraryA(path.c_str()))
    {
        base = reinterpret_cast<std::uint8_t*>(module);
        const auto found = reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "pvBmpBits"));
        if (found == reinterpret_cast<std::uintptr_t>(base + bitsRva))
            m_pWrapperImage = module;
        else
        {
            FreeLibrary(module);
            base = nullptr;
            std::fprintf(stderr,
                         "gamesim: the system loaded a %s of its own; the wrapper is mapped "
                         "as a file instead (under Wine, WINEDLLOVERRIDES=%s=n loads it)\n",
                         wrapperName.c_str(), ModuleStem(wrapperName).c_str());
        }
    }
    if (base == nullptr && !MapWrapperFile(path, image.size(), base, error))
        return false;
    m_nWrapperImageBytes = image.size();
    if (reinterpret_cast<std::uintptr_t>(base) + image.size() > kFourGiB)
    {
        error = wrapperName + " was loaded at " + Hex(reinterpret_cast<std::uintptr_t>(base)) +
                ", out of the game's 32-bit reach";
        return false;
    }
    return true;
}

void CGameMemory::ReleaseAll()
{
    for (std::uint8_t* p : {m_pScreen, m_pWrapperScreen, m_pUnits, m_pMapTable})
        if (p)
            VirtualFree(p, 0, MEM_RELEASE);
    m_pScreen = m_pWrapperScreen = m_pUnits = m_pMapTable = nullptr;
    m_pVariables = nullptr; // part of the executable
    if (m_pWrapperImage)
        FreeLibrary(static_cast<HMODULE>(m_pWrapperImage));
    else if (m_nWrapperImageBytes != 0)
        UnmapViewOfFile(reinterpret_cast<void*>(static_cast<std::uintptr_t>(kWrapperBase)));
    m_pWrapperImage = nullptr;
    m_nWrapperImageBytes = 0;
    if (!m_strWrapperDir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strWrapperDir, ec);
        m_strWrapperDir.clear();
    }
}
