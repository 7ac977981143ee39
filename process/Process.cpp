#include "Process.h"

#include <stdexcept>

CProcess::~CProcess()
{
    if (m_hProcess != nullptr)
        PlatformCloseProcess(m_hProcess);
    m_hProcess = nullptr;
    m_hGameWnd = 0;
    m_bAttached = false;
}

bool CProcess::Attach()
{
    if (m_hProcess == nullptr)
    {
        const PlatformPid pid = PlatformFindWindowProcess(kGameTitle, m_hGameWnd);
        if (pid != 0)
        {
            m_hProcess = PlatformOpenProcess(pid);
            m_strProblem = m_hProcess ? std::string() : PlatformLastProblem();
        }
        if (m_hProcess == nullptr)
        {
            m_bAttached = false;
            return false;
        }
    }
    if (PlatformIsRunning(m_hProcess))
    {
        m_bAttached = true;
        return true;
    }
    // The game has ended.
    PlatformCloseProcess(m_hProcess);
    m_hProcess = nullptr;
    m_bAttached = false;
    return false;
}

namespace
{
template <typename T>
bool ReadValue(PlatformProcess* process, std::uint32_t address, T& value, std::size_t& copied)
{
    unsigned char bytes[sizeof(T)] = {};
    const bool ok = PlatformRead(process, address, bytes, sizeof(T), copied);
    value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        value = static_cast<T>((value << 8) | bytes[i]); // little-endian, whatever the host
    return ok;
}
} // namespace

std::uint8_t CProcess::ReadByte(std::uint32_t address)
{
    if (!m_bAttached)
        return 0;
    std::uint8_t value = 0;
    std::size_t copied = 0;
    if (!ReadValue(m_hProcess, address, value, copied))
        throw std::runtime_error("x1");
    return value;
}

std::uint16_t CProcess::ReadWord(std::uint32_t address)
{
    if (!m_bAttached)
        return 0;
    std::uint16_t value = 0;
    std::size_t copied = 0;
    if (!ReadValue(m_hProcess, address, value, copied))
        throw std::runtime_error("x4");
    return value;
}

std::uint32_t CProcess::ReadDword(std::uint32_t address)
{
    if (!m_bAttached)
        return 0;
    std::uint32_t value = 0;
    std::size_t copied = 0;
    if (!ReadValue(m_hProcess, address, value, copied))
        throw std::runtime_error("x2");
    if (copied != 4)
        throw std::runtime_error("x3");
    return value;
}

bool CProcess::ReadBlock(std::uint32_t address, void* buffer, std::size_t size)
{
    if (!m_bAttached)
        return false;
    std::size_t copied = 0;
    if (!PlatformRead(m_hProcess, address, buffer, size, copied))
        throw std::runtime_error("x5");
    return true;
}
