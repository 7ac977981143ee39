#include "tools/gamesim/GameMemory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>

// The demo's memory on Linux: anonymous mappings at the game's addresses,
// and the wrapper as a file mapped from offset 0, which is what a module is
// in /proc/PID/maps.

namespace
{
constexpr std::uint32_t kVariablesBase = 0x00400000;
constexpr std::size_t kVariablesSize = 0x00100000;

void Unmap(void* p, std::size_t size)
{
    if (p)
        munmap(p, size);
}
} // namespace

std::uint8_t* CGameMemory::MapAt(std::uint32_t address, std::size_t size, std::string& error)
{
    void* p =
        mmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), size,
             PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED)
    {
        char text[128];
        std::snprintf(text, sizeof(text), "can't map game memory at 0x%08X: %s", address,
                      std::strerror(errno));
        error = text;
        return nullptr;
    }
    return static_cast<std::uint8_t*>(p);
}

bool CGameMemory::MapVariables(std::string& error)
{
    m_pVariables = MapAt(kVariablesBase, kVariablesSize, error);
    if (!m_pVariables)
        return false;
    m_nVariablesBegin = kVariablesBase;
    m_nVariablesEnd = kVariablesBase + kVariablesSize;
    return true;
}

bool CGameMemory::LoadWrapper(const std::string& wrapperName, std::string& error)
{
    // The file and its folder go as soon as it is mapped: the mapping keeps
    // the name, and a killed demo leaves nothing behind.
    char dir[] = "/tmp/gamesim-XXXXXX";
    if (mkdtemp(dir) == nullptr)
    {
        error = "can't make a folder for " + wrapperName + ": " + std::strerror(errno);
        return false;
    }
    m_strWrapperDir = dir;
    std::uint32_t bitsRva = 0;
    const std::vector<std::uint8_t> image = WrapperImage(wrapperName, false, kWrapperBase, bitsRva);
    const std::string path = m_strWrapperDir + "/" + wrapperName;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size()))
    {
        error = "can't write " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    void* mapped =
        mmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(kWrapperBase)), image.size(),
             PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED_NOREPLACE, fd, 0);
    const int mapError = errno;
    close(fd);
    std::error_code ec;
    std::filesystem::remove_all(m_strWrapperDir, ec);
    m_strWrapperDir.clear();
    if (mapped == MAP_FAILED)
    {
        error = "can't map " + wrapperName + ": " + std::strerror(mapError);
        return false;
    }
    m_pWrapperImage = mapped;
    m_nWrapperImageBytes = image.size();
    return true;
}

void CGameMemory::ReleaseAll()
{
    Unmap(m_pVariables, kVariablesSize);
    Unmap(m_pScreen, m_nScreenBytes);
    Unmap(m_pWrapperScreen, m_nScreenBytes);
    Unmap(m_pWrapperImage, m_nWrapperImageBytes);
    Unmap(m_pUnits, kMaxUnits * kUnitRecordBytes);
    Unmap(m_pMapTable, 4 * kMapTiles);
    m_pVariables = m_pScreen = m_pWrapperScreen = m_pUnits = m_pMapTable = nullptr;
    m_pWrapperImage = nullptr;
    if (!m_strWrapperDir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strWrapperDir, ec);
        m_strWrapperDir.clear();
    }
}
