#include "process/Process.h"

#include "base/ByteOrder.h"
#include "process/ReadError.h"

#include <stdexcept>

CProcess::~CProcess()
{
    if (m_hProcess != nullptr)
        PlatformCloseProcess(m_hProcess);
    m_hProcess = nullptr;
    m_nPid = 0;
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
            m_nPid = m_hProcess ? pid : 0;
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
    m_nPid = 0;
    m_bAttached = false;
    return false;
}

namespace
{
// One typed read: `failed` is raised when the platform reports failure,
// `shortRead` (when given) when fewer than all bytes came; the value is
// taken in little-endian order whatever the host.
template <typename T>
T ReadValue(PlatformProcess* process, std::uint32_t address, const char* failed,
            const char* shortRead)
{
    std::uint8_t bytes[sizeof(T)] = {};
    std::size_t copied = 0;
    if (!PlatformRead(process, address, bytes, sizeof(T), copied))
        throw std::runtime_error(failed);
    if (shortRead != nullptr && copied != sizeof(T))
        throw std::runtime_error(shortRead);
    return LoadLe<T>(bytes);
}
} // namespace

std::uint8_t CProcess::ReadByte(std::uint32_t address)
{
    return m_bAttached ? ReadValue<std::uint8_t>(m_hProcess, address, kErrReadByte, nullptr) : 0;
}

std::uint16_t CProcess::ReadWord(std::uint32_t address)
{
    return m_bAttached ? ReadValue<std::uint16_t>(m_hProcess, address, kErrReadWord, nullptr) : 0;
}

std::uint32_t CProcess::ReadDword(std::uint32_t address)
{
    return m_bAttached
               ? ReadValue<std::uint32_t>(m_hProcess, address, kErrReadDword, kErrReadDwordShort)
               : 0;
}

bool CProcess::ReadBlock(std::uint32_t address, void* buffer, std::size_t size)
{
    if (!m_bAttached)
        return false;
    std::size_t copied = 0;
    if (!PlatformRead(m_hProcess, address, buffer, size, copied))
        throw std::runtime_error(kErrReadBlock);
    return true;
}
