#include "tools/gamesim/GameMemory.h"

#include "tools/pe/PeImage.h"

#include <cstring>

// What the game's memory holds, the same on every platform; where that
// memory comes from is the platform's part, in linux/ and win32/.

namespace
{
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
    ReleaseAll();
}

std::uint8_t* CGameMemory::Variable(std::uint32_t address) const
{
    return m_pVariables + (address - m_nVariablesBegin);
}

std::uint8_t* CGameMemory::At(std::uint32_t address) const
{
    if (address >= m_nVariablesBegin && address < m_nVariablesEnd)
        return Variable(address);
    if (address >= kUnitRecords && address < kUnitRecords + kMaxUnits * kUnitRecordBytes)
        return m_pUnits + (address - kUnitRecords);
    if (address >= kMapUnitTable && address < kMapUnitTable + 4 * kMapTiles)
        return m_pMapTable + (address - kMapUnitTable);
    return nullptr;
}

std::vector<std::uint8_t> CGameMemory::WrapperImage(const std::string& wrapperName, bool pe32Plus,
                                                    std::uint32_t imageBase, std::uint32_t& bitsRva)
{
    CPeImageBuilder builder(pe32Plus);
    bitsRva = builder.AddData("pvBmpBits", 0x40);
    builder.AddData("pvBmpBitsOld", 0x80); // a name that also contains it, later in the table
    std::vector<std::uint8_t> image = builder.BuildModule(wrapperName, imageBase);
    // The file is laid out as loaded, so the variable's rva is its offset.
    const std::uint32_t shown = kWrapperScreenAddress;
    std::memcpy(image.data() + bitsRva, &shown, 4);
    return image;
}

bool CGameMemory::Create(bool build2021, const std::string& wrapperName, int width, int height,
                         std::string& error)
{
    m_b2021 = build2021;
    const BuildAddresses& a = build2021 ? kBuild2021 : kBuild2020;
    if (!MapVariables(error))
        return false;
    m_nScreenBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    m_pScreen = MapAt(kScreenAddress, m_nScreenBytes, error);
    if (!m_pScreen)
        return false;

    m_pUnits = MapAt(kUnitRecords, kMaxUnits * kUnitRecordBytes, error);
    if (!m_pUnits)
        return false;
    m_pMapTable = MapAt(kMapUnitTable, 4 * kMapTiles, error);
    if (!m_pMapTable)
        return false;

    *Variable(kVersionByte) = a.version;
    SetFrameNumber(kFrameBusy);
    const std::uint32_t size =
        static_cast<std::uint32_t>(width) | (static_cast<std::uint32_t>(height) << 16);
    std::memcpy(Variable(a.screenSize), &size, 4);
    const std::uint32_t screen = kScreenAddress;
    std::memcpy(Variable(a.screenPointer), &screen, 4);

    return wrapperName.empty() || AddWrapper(wrapperName, nullptr, error);
}

bool CGameMemory::AddWrapper(const std::string& wrapperName, const std::uint8_t* picture,
                             std::string& error)
{
    if (m_pWrapperScreen == nullptr)
        m_pWrapperScreen = MapAt(kWrapperScreenAddress, m_nScreenBytes, error);
    if (!m_pWrapperScreen)
        return false;
    if (picture != nullptr)
        std::memcpy(m_pWrapperScreen, picture, m_nScreenBytes);
    if (!LoadWrapper(wrapperName, error))
        return false;
    m_bWrapperLoaded = true;
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
