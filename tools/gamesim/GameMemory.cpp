#include "GameMemory.h"

#include "PeImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>

namespace
{
constexpr std::uint32_t kVariablesBase = 0x00400000;
constexpr std::size_t kVariablesSize = 0x00100000;
constexpr std::uint32_t kVersionByte = 0x0048807B;

struct BuildAddresses
{
    std::uint8_t version;
    std::uint32_t screenSize, screenPointer, palette, cursor;
};
constexpr BuildAddresses kBuild2020{0x3D, 0x004D4A90, 0x004D4A94, 0x004AE844, 0x004D5134};
constexpr BuildAddresses kBuild2021{0x8B, 0x004D4AE0, 0x004D4AE4, 0x004AE894, 0x004D5184};
} // namespace

CGameMemory::~CGameMemory()
{
    if (m_pVariables)
        munmap(m_pVariables, kVariablesSize);
    if (m_pScreen)
        munmap(m_pScreen, m_nScreenBytes);
    if (m_pWrapperScreen)
        munmap(m_pWrapperScreen, m_nScreenBytes);
    if (m_pWrapperImage)
        munmap(m_pWrapperImage, m_nWrapperImageBytes);
    if (m_pUnits)
        munmap(m_pUnits, kMaxUnits * kUnitRecordBytes);
    if (m_pMapTable)
        munmap(m_pMapTable, 4 * kMapTiles);
    if (!m_strWrapperDir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strWrapperDir, ec);
    }
}

void* CGameMemory::MapAt(std::uint32_t address, std::size_t size, std::string& error)
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
    return p;
}

std::uint8_t* CGameMemory::Variable(std::uint32_t address) const
{
    return static_cast<std::uint8_t*>(m_pVariables) + (address - kVariablesBase);
}

std::uint8_t* CGameMemory::At(std::uint32_t address) const
{
    if (address >= kVariablesBase && address < kVariablesBase + kVariablesSize)
        return Variable(address);
    if (address >= kUnitRecords && address < kUnitRecords + kMaxUnits * kUnitRecordBytes)
        return m_pUnits + (address - kUnitRecords);
    if (address >= kMapUnitTable && address < kMapUnitTable + 4 * kMapTiles)
        return m_pMapTable + (address - kMapUnitTable);
    return nullptr;
}

bool CGameMemory::Create(bool build2021, const std::string& wrapperName, int width, int height,
                         std::string& error)
{
    m_b2021 = build2021;
    const BuildAddresses& a = build2021 ? kBuild2021 : kBuild2020;
    m_pVariables = MapAt(kVariablesBase, kVariablesSize, error);
    if (!m_pVariables)
        return false;
    m_nScreenBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    m_pScreen = static_cast<std::uint8_t*>(MapAt(kScreenAddress, m_nScreenBytes, error));
    if (!m_pScreen)
        return false;

    m_pUnits = static_cast<std::uint8_t*>(MapAt(kUnitRecords, kMaxUnits * kUnitRecordBytes, error));
    m_pMapTable = static_cast<std::uint8_t*>(MapAt(kMapUnitTable, 4 * kMapTiles, error));
    if (!m_pUnits || !m_pMapTable)
        return false;

    *Variable(kVersionByte) = a.version;
    SetFrameNumber(kFrameBusy);
    const std::uint32_t size =
        static_cast<std::uint32_t>(width) | (static_cast<std::uint32_t>(height) << 16);
    std::memcpy(Variable(a.screenSize), &size, 4);
    const std::uint32_t screen = kScreenAddress;
    std::memcpy(Variable(a.screenPointer), &screen, 4);

    if (wrapperName.empty())
        return true;
    m_pWrapperScreen =
        static_cast<std::uint8_t*>(MapAt(kWrapperScreenAddress, m_nScreenBytes, error));
    if (!m_pWrapperScreen)
        return false;

    // The wrapper is a file of the wrapper's name mapped from offset 0, so
    // that the module list (the mapped files) names it and gives its base.
    // The file and its folder go as soon as it is mapped: the mapping keeps
    // the name, and a killed demo leaves nothing behind.
    char dir[] = "/tmp/gamesim-XXXXXX";
    if (mkdtemp(dir) == nullptr)
    {
        error = "can't make a folder for " + wrapperName + ": " + std::strerror(errno);
        return false;
    }
    m_strWrapperDir = dir;
    CPeImageBuilder builder(wrapperName);
    const std::uint32_t bitsRva = builder.AddData("pvBmpBits", 0x40);
    builder.AddData("pvBmpBitsOld", 0x80); // a name that also contains it, later in the table
    const std::vector<std::uint8_t> image = builder.Build(kWrapperBase);
    const std::string path = m_strWrapperDir + "/" + wrapperName;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size()))
    {
        error = "can't write " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    m_nWrapperImageBytes = image.size();
    m_pWrapperImage =
        mmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(kWrapperBase)), image.size(),
             PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED_NOREPLACE, fd, 0);
    close(fd);
    std::error_code ec;
    std::filesystem::remove_all(m_strWrapperDir, ec);
    m_strWrapperDir.clear();
    if (m_pWrapperImage == MAP_FAILED)
    {
        m_pWrapperImage = nullptr;
        error = "can't map " + wrapperName + ": " + std::strerror(errno);
        return false;
    }
    const std::uint32_t shown = kWrapperScreenAddress;
    std::memcpy(static_cast<std::uint8_t*>(m_pWrapperImage) + bitsRva, &shown, 4);
    return true;
}

void CGameMemory::SetPalette(const std::uint8_t* palette)
{
    std::memcpy(Variable((m_b2021 ? kBuild2021 : kBuild2020).palette), palette, 1024);
}

void CGameMemory::SetCursor(std::uint32_t cursor)
{
    std::memcpy(Variable((m_b2021 ? kBuild2021 : kBuild2020).cursor), &cursor, 4);
}

void CGameMemory::SetFrameNumber(std::uint32_t frame)
{
    std::memcpy(Variable(kFrameCounterAddress), &frame, 4);
}
