#pragma once

#include "process/Platform.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The in-memory game of the unit tests: byte regions at addresses, a window
// that can appear and vanish, a process that can end, a module list. Linking
// the fake backend makes the platform operations serve this game, so tests of
// process access, version detection and capture set game memory precisely.
//
// Reads behave as the real backend's: a read whose first byte lies in no
// region fails; one that runs past the end of the regions it starts in copies
// what lies before and reports the short count. Adjacent regions count as
// one stretch of memory.
class CFakeGame
{
public:
    // The one fake game all platform calls see; Reset() before each test.
    static CFakeGame& Get();

    void Reset();

    // Window and process.
    void ShowWindow(const std::string& title, PlatformPid pid);
    void HideWindow();
    void EndProcess();   // the process stops running; its memory stays readable
    void StartProcess(); // a new run under the same id
    void RefuseOpen(const std::string& problem); // opens fail with this reason

    // Memory.
    void Map(std::uint64_t address, std::vector<std::uint8_t> bytes);
    void Write(std::uint64_t address, const void* bytes, std::size_t size);
    void Write8(std::uint64_t address, std::uint8_t value) { Write(address, &value, 1); }
    void Write16(std::uint64_t address, std::uint16_t value) { Write(address, &value, 2); }
    void Write32(std::uint64_t address, std::uint32_t value) { Write(address, &value, 4); }
    void Unmap(std::uint64_t address);

    // Modules, in list order; FailModuleList makes the listing itself fail.
    void AddModule(const std::string& name, std::uint64_t base);
    void ClearModules();
    void FailModuleList(bool fail) { m_bFailModules = fail; }
    // Makes each listing take this long, as a module snapshot under Wine does.
    void SlowModuleList(std::chrono::milliseconds delay) { m_listingDelay = delay; }

    // Where the program's data files are said to lie.

    // Counters for tests that check what was (not) done.
    int OpenCount() const { return m_nOpens; }
    int OpenHandles() const { return m_nHandles; }
    int WindowSearches() const { return m_nSearches; }
    int ModuleListings() const { return m_nListings; }
    int Reads() const { return m_nReads; }

    // Backend side.
    PlatformPid FindWindow(const std::string& title, std::uint64_t& window);
    PlatformProcess* Open(PlatformPid pid);
    bool IsRunning(PlatformProcess* process) const;
    bool Read(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size,
              std::size_t& copied);
    void Close(PlatformProcess* process);
    bool ListModules(PlatformPid pid, std::vector<PlatformModule>& modules);
    bool ModuleBase(std::uint64_t base, std::uint64_t& reported) const;
    const std::string& LastProblem() const { return m_strLastProblem; }

private:
    CFakeGame() = default;

    std::map<std::uint64_t, std::vector<std::uint8_t>> m_regions;
    std::vector<PlatformModule> m_modules;
    std::string m_strTitle;
    std::string m_strRefusal;
    std::string m_strLastProblem;
    PlatformPid m_nPid = 0;
    int m_nRun = 0; // which run of the process is current
    bool m_bWindow = false;
    bool m_bRunning = false;
    bool m_bFailModules = false;
    std::chrono::milliseconds m_listingDelay{0};
    int m_nOpens = 0;
    int m_nHandles = 0;
    int m_nSearches = 0;
    int m_nListings = 0;
    int m_nReads = 0;
};
