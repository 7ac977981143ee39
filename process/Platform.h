#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The few operations that game access takes from the platform. Each backend
// (process/linux, process/win32, process/fake) implements all of them, and the
// build links exactly one, so the classes above stay plain.

// A process id; 0 stands for none.
using PlatformPid = std::uint32_t;

// An open game process, as a backend keeps it.
struct PlatformProcess;

struct PlatformModule
{
    std::string name;   // file name without directory, as the platform spells it
    std::uint64_t base; // lowest address at which the module is mapped
};

// The process owning a top-level window whose title is exactly `title`, or 0.
// `window` receives the window's id (0 when none was found).
PlatformPid PlatformFindWindowProcess(const char* title, std::uint64_t& window);

// Why the last window search could not look at all ("cannot open the X
// display ..."); empty when it looked, whether or not it found the window.
std::string PlatformWindowProblem();

// Opens `pid` for reading its memory. Null when it can't be; the reason is
// then available from PlatformLastProblem().
PlatformProcess* PlatformOpenProcess(PlatformPid pid);

// True while the opened process runs (an id reused by another process after
// the game ended never counts as the game).
bool PlatformIsRunning(PlatformProcess* process);

// Copies up to `size` bytes at `address` into `buffer`. False when nothing
// could be read; true otherwise, with `copied` the bytes actually copied (a
// read that runs into unmapped memory copies what lies before it).
bool PlatformRead(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size,
                  std::size_t& copied);

void PlatformCloseProcess(PlatformProcess* process);

// The modules mapped into `pid`, in the platform's order. False when they
// can't be listed.
bool PlatformListModules(PlatformPid pid, std::vector<PlatformModule>& modules);

// Confirms that a module is mapped at `base` in the process; `reported`
// receives the base the platform reports for it.
bool PlatformModuleBase(PlatformProcess* process, std::uint64_t base, std::uint64_t& reported);

// Why the last PlatformOpenProcess failed, and what the user can do about it,
// in one or two English sentences; empty when it succeeded or nothing was tried.
std::string PlatformLastProblem();
