#include "capture/GameLayout.h"

#include "process/Process.h"
#include "process/ReadError.h"

#include <stdexcept>

namespace
{
struct AddressRow
{
    std::uint32_t v2020; // kinds 1 and 3
    std::uint32_t v2021; // kinds 2 and 4
};

// The game's memory map, indexed by GameAddr (GA_SCREEN_BITS has no row of
// its own: it is the wrapper's variable, or the screen pointer).
constexpr AddressRow kAddresses[] = {
    {0x004D4A94, 0x004D4AE4}, // GA_SCREEN_POINTER
    {0x004AE844, 0x004AE894}, // GA_PALETTE
    {0x004D5134, 0x004D5184}, // GA_CURSOR
    {0, 0},                   // GA_SCREEN_BITS
    {0x004D4A90, 0x004D4AE0}, // GA_SCREEN_SIZE
};
} // namespace

void CGameLayout::Detect(CProcess& process, Clock::time_point now)
{
    try
    {
        const bool wasPending = m_bWrapperPending;
        if (m_earlyLooksEnd == Clock::time_point::min())
            m_earlyLooksEnd = now + kWrapperEarlyWindow;
        const bool early = now < m_earlyLooksEnd;
        if (m_bWrapperPending && (early ? now >= m_nextEarlyLook : now >= m_nextWrapperLook))
        {
            const Clock::time_point lookStart = Clock::now();
            m_nWrapperBits = process.GetScreenBitsAddress();
            if (m_nWrapperBits != 0)
                m_bWrapperPending = false;
            else
            {
                m_nextWrapperLook = now + kWrapperLookInterval;
                m_nextEarlyLook = now + kEarlyLookSpacing * (Clock::now() - lookStart);
            }
        }
        if (m_nKind != GK_UNKNOWN && m_bWrapperPending == wasPending)
            return;
        const std::uint8_t version = process.ReadByte(kVersionByteAddress);
        const bool wrapper = m_nWrapperBits != 0;
        if (version == kVersionByte2020)
            m_nKind = wrapper ? GK_V2020_DDRAW : GK_V2020;
        else if (version == kVersionByte2021)
            m_nKind = wrapper ? GK_V2021_DDRAW : GK_V2021;
        else
            m_nKind = GK_UNKNOWN;
    }
    catch (const std::runtime_error&)
    {
        throw std::runtime_error(kErrDetectVersion);
    }
}

std::uint32_t CGameLayout::GetAddress(GameAddr entry) const
{
    if (entry == GA_SCREEN_BITS)
    {
        if (m_nWrapperBits != 0)
            return m_nWrapperBits;
        entry = GA_SCREEN_POINTER;
    }
    const AddressRow& row = kAddresses[entry];
    switch (m_nKind)
    {
    case GK_V2020:
    case GK_V2020_DDRAW:
        return row.v2020;
    case GK_V2021:
    case GK_V2021_DDRAW:
        return row.v2021;
    default:
        throw std::runtime_error(kErrAddressTable);
    }
}

void CGameLayout::Reset()
{
    m_bWrapperPending = true;
    m_nKind = GK_UNKNOWN;
    m_nWrapperBits = 0;
    m_earlyLooksEnd = Clock::time_point::min();
    m_nextWrapperLook = Clock::time_point::min();
    m_nextEarlyLook = Clock::time_point::min();
}

const char* GameKindText(int kind)
{
    switch (kind)
    {
    case GK_V2020:
        return "war2 v2.0.2.0";
    case GK_V2021:
        return "war2 v2.0.2.1";
    case GK_V2020_DDRAW:
        return "war2 2.0.2.0 ddraw";
    case GK_V2021_DDRAW:
        return "war2 2.0.2.1 ddraw";
    default:
        return "unknown version";
    }
}
