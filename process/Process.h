#pragma once

#include "process/Platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The system's handle on the running game. Attach finds the game by its
// window title and opens its process once; while that process runs the
// handle, its id and the window are kept and the window is not looked for
// again (asking whether the process still runs is one cheap platform call,
// which is all a tick pays to notice that the game ended), and after it ends
// the first Attach drops the handle so that the next one finds a restarted
// game afresh. Reads come in four shapes and raise std::runtime_error with
// a short code on failure (kErrReadByte to kErrReadBlock, ReadError.h); on an
// object that is not attached they read nothing and return 0 or false.
// Nothing is ever written to the game.
class CProcess
{
public:
    static constexpr const char* kGameTitle = "WARCRAFT II";

    CProcess() = default;
    virtual ~CProcess();
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;

    bool Attach();

    std::uint8_t ReadByte(std::uint32_t address);
    std::uint16_t ReadWord(std::uint32_t address);
    std::uint32_t ReadDword(std::uint32_t address);
    bool ReadBlock(std::uint32_t address, void* buffer, std::size_t size);

    // The game address of the variable "pvBmpBits" exported by the
    // "ddraw.dll" of the attached process, or 0 (RemoteExports.cpp). The
    // module is looked for in the process that Attach opened, not in whatever
    // process owns the game's window now.
    std::uint32_t GetScreenBitsAddress();

    bool IsAttached() const { return m_bAttached; }
    PlatformProcess* GetHandle() const { return m_hProcess; }
    std::uint64_t GetWindow() const { return m_hGameWnd; }
    // Why the last Attach that found the window could not open the process.
    const std::string& GetProblem() const { return m_strProblem; }

    // The attached game's process id (the one its window names); 0 when
    // none is attached.
    PlatformPid GetPid() const { return m_nPid; }

private:
    PlatformProcess* m_hProcess = nullptr;
    PlatformPid m_nPid = 0; // the id m_hProcess was opened by; 0 while none is
    bool m_bAttached = false;
    std::uint64_t m_hGameWnd = 0;
    std::string m_strProblem;
};
