#pragma once

#include <cstddef>

// Memory for the large tables, taken from the system in whole pages rather
// than from the heap. A mapping is zero until written and holds no memory in
// pages never touched, so a table can be mapped at its full size and grow
// into it; parts no longer needed are handed back one range at a time. The
// heap can't do either: glibc serves blocks of up to 32 MiB from its arenas
// once large blocks have been freed, and keeps what it serves.
//
// Each platform's memory file (linux/LinuxMemory.cpp, win32/Win32Memory.cpp) implements these.

// Huge pages: a table of hundreds of MiB touched in 4 KiB pages takes a fault
// per page on first write and a TLB miss on most random reads. Ranges of
// kHugePageBytes at addresses aligned to it can be backed by one huge page.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Maps `bytes` (a multiple of kHugePageBytes) of zero memory at an address
// aligned to kHugePageBytes. Null when the system refuses.
void* MapZeroedPages(std::size_t bytes);
// Returns the memory of [address, address + bytes) of a mapping to the
// system; both multiples of 64 KiB from the mapping's start. The range must
// not be used again; unmapping the whole mapping afterwards is still allowed.
void ReleasePages(void* address, std::size_t bytes);
// Unmaps a whole mapping made by MapZeroedPages, released ranges and all.
void UnmapPages(void* address, std::size_t bytes);

// Backs [address, address + bytes) of a mapping with memory now, in one
// request, where the system can: a table about to write its next pages then
// takes one call for them instead of a fault on each (which costs most where
// the system runs under a hypervisor). A request only; pages it leaves out
// are backed at their first write as before.
void PopulatePages(void* address, std::size_t bytes);

// Asks the system to back [address, address + bytes), aligned to
// kHugePageBytes, with huge pages. A request only, which the system may
// ignore. On Linux it is made only when the environment variable
// TRELLON_HUGE_PAGES is 1 (see linux/LinuxMemory.cpp for why); elsewhere
// it does nothing.
void AdviseHugePages(void* address, std::size_t bytes);
