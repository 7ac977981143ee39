// Memory on Linux: anonymous private mappings, and transparent huge pages
// where asked for. With the system set to "madvise" (Debian's default) only
// regions marked so get them.

#include "private/PlatformMemory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace
{
// Huge pages are asked for only when TRELLON_HUGE_PAGES=1: on the machine
// the figures in docs/PERFORMANCE.md come from, they gained nothing on the
// tables large enough to ask, held up to 4 MiB more at the tables' growing
// ends, and on smaller tables stalled single frames while a whole 2 MiB page
// was cleared at its first touch.
bool HugePagesWanted()
{
    static const bool wanted = []
    {
        const char* value = std::getenv("TRELLON_HUGE_PAGES");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return wanted;
}
} // namespace

void* MapZeroedPages(std::size_t bytes)
{
    // Mapped one huge page larger than asked, then trimmed on both sides to
    // the aligned range: mmap itself promises only small-page alignment.
    const std::size_t mapped = bytes + kHugePageBytes;
    if (mapped < bytes)
        return nullptr;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    const std::size_t before = aligned - start;
    if (before != 0)
        munmap(raw, before);
    const std::size_t after = mapped - before - bytes;
    if (after != 0)
        munmap(reinterpret_cast<void*>(aligned + bytes), after);
    return reinterpret_cast<void*>(aligned);
}

void ReleasePages(void* address, std::size_t bytes)
{
    // The pages go, the addresses stay reserved: unmapped, they could be
    // handed to another mapping, which unmapping the whole would then tear
    // away.
    if (bytes != 0)
        (void)madvise(address, bytes, MADV_DONTNEED);
}

void PopulatePages(void* address, std::size_t bytes)
{
    // Linux 5.14 and later; older kernels refuse the advice (EINVAL) and the
    // pages fault in one by one.
    if (bytes != 0)
        (void)madvise(address, bytes, MADV_POPULATE_WRITE);
}

void UnmapPages(void* address, std::size_t bytes)
{
    if (address != nullptr && bytes != 0)
        munmap(address, bytes);
}

void AdviseHugePages(void* address, std::size_t bytes)
{
    // Failure (a kernel without transparent huge pages) leaves small pages,
    // which work the same, only slower.
    if (HugePagesWanted() && bytes != 0)
        (void)madvise(address, bytes, MADV_HUGEPAGE);
}
