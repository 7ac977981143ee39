// Memory on Windows: VirtualAlloc, which returns zero pages at an address
// aligned to 64 KiB; the alignment to huge pages matters only where huge
// pages are asked for, and they are not: large pages on Windows need a
// privilege that a recorder should not ask for.

#include "private/PlatformMemory.h"

#include <windows.h>

void* MapZeroedPages(std::size_t bytes)
{
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleasePages(void* address, std::size_t bytes)
{
    if (bytes != 0)
        VirtualFree(address, bytes, MEM_DECOMMIT);
}

// Committed pages are backed at their first touch; nothing asks for more.
void PopulatePages(void*, std::size_t) {}

void UnmapPages(void* address, std::size_t)
{
    if (address != nullptr)
        VirtualFree(address, 0, MEM_RELEASE);
}

void AdviseHugePages(void*, std::size_t) {}
