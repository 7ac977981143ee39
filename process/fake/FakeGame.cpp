#include "process/fake/FakeGame.h"

#include <cstring>
#include <thread>

// What an open handle remembers: the run of the process it was opened on, so
// that a handle to an ended run never sees the next one as running.
struct PlatformProcess
{
    PlatformPid pid;
    int run;
};

CFakeGame& CFakeGame::Get()
{
    static CFakeGame game;
    return game;
}

void CFakeGame::Reset()
{
    m_regions.clear();
    m_modules.clear();
    m_strTitle.clear();
    m_strRefusal.clear();
    m_strLastProblem.clear();
    m_nPid = 0;
    m_nRun = 0;
    m_bWindow = false;
    m_bRunning = false;
    m_bFailModules = false;
    m_listingDelay = std::chrono::milliseconds(0);
    m_nOpens = m_nHandles = m_nSearches = m_nListings = m_nReads = 0;
}

void CFakeGame::ShowWindow(const std::string& title, PlatformPid pid)
{
    m_strTitle = title;
    if (pid != m_nPid || !m_bRunning)
    {
        m_nPid = pid;
        StartProcess();
    }
    m_bWindow = true;
}

void CFakeGame::HideWindow()
{
    m_bWindow = false;
}

void CFakeGame::EndProcess()
{
    m_bRunning = false;
    m_bWindow = false;
}

void CFakeGame::StartProcess()
{
    ++m_nRun;
    m_bRunning = true;
}

void CFakeGame::RefuseOpen(const std::string& problem)
{
    m_strRefusal = problem;
}

void CFakeGame::Map(std::uint64_t address, std::vector<std::uint8_t> bytes)
{
    m_regions[address] = std::move(bytes);
}

void CFakeGame::Write(std::uint64_t address, const void* bytes, std::size_t size)
{
    // Into the region holding the address, growing a new one when none does.
    auto it = m_regions.upper_bound(address);
    if (it != m_regions.begin())
    {
        --it;
        if (address - it->first + size <= it->second.size())
        {
            std::memcpy(it->second.data() + (address - it->first), bytes, size);
            return;
        }
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    m_regions[address] = std::vector<std::uint8_t>(p, p + size);
}

void CFakeGame::Unmap(std::uint64_t address)
{
    m_regions.erase(address);
}

void CFakeGame::AddModule(const std::string& name, std::uint64_t base)
{
    m_modules.push_back({name, base});
}

void CFakeGame::ClearModules()
{
    m_modules.clear();
}

PlatformPid CFakeGame::FindWindow(const std::string& title, std::uint64_t& window)
{
    ++m_nSearches;
    window = 0;
    if (!m_bWindow || title != m_strTitle)
        return 0;
    window = 0x1000 + m_nPid;
    return m_nPid;
}

PlatformProcess* CFakeGame::Open(PlatformPid pid)
{
    ++m_nOpens;
    m_strLastProblem.clear();
    if (!m_strRefusal.empty())
    {
        m_strLastProblem = m_strRefusal;
        return nullptr;
    }
    if (pid == 0 || pid != m_nPid || !m_bRunning)
    {
        m_strLastProblem = "The process has ended.";
        return nullptr;
    }
    ++m_nHandles;
    return new PlatformProcess{pid, m_nRun};
}

bool CFakeGame::IsRunning(PlatformProcess* process) const
{
    return process != nullptr && process->pid == m_nPid && process->run == m_nRun && m_bRunning;
}

bool CFakeGame::Read(PlatformProcess* process, std::uint64_t address, void* buffer,
                     std::size_t size, std::size_t& copied)
{
    ++m_nReads;
    copied = 0;
    if (process == nullptr || process->pid != m_nPid || process->run != m_nRun)
        return false; // the process behind the handle is gone
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t at = address;
    while (copied < size)
    {
        auto it = m_regions.upper_bound(at);
        if (it == m_regions.begin())
            break;
        --it;
        const std::uint64_t offset = at - it->first;
        if (offset >= it->second.size())
            break;
        const std::size_t n = std::min<std::size_t>(size - copied, it->second.size() - offset);
        std::memcpy(out + copied, it->second.data() + offset, n);
        copied += n;
        at += n;
    }
    return size == 0 || copied > 0;
}

void CFakeGame::Close(PlatformProcess* process)
{
    if (process != nullptr)
        --m_nHandles;
    delete process;
}

bool CFakeGame::ListModules(PlatformPid pid, std::vector<PlatformModule>& modules)
{
    ++m_nListings;
    if (m_listingDelay.count() > 0)
        std::this_thread::sleep_for(m_listingDelay);
    modules.clear();
    if (m_bFailModules || pid == 0 || pid != m_nPid || !m_bRunning)
        return false;
    modules = m_modules;
    return true;
}

bool CFakeGame::ModuleBase(std::uint64_t base, std::uint64_t& reported) const
{
    for (const PlatformModule& module : m_modules)
        if (module.base == base)
        {
            reported = base;
            return true;
        }
    return false;
}

PlatformPid PlatformFindWindowProcess(const char* title, std::uint64_t& window)
{
    return CFakeGame::Get().FindWindow(title, window);
}

PlatformProcess* PlatformOpenProcess(PlatformPid pid)
{
    return CFakeGame::Get().Open(pid);
}

bool PlatformIsRunning(PlatformProcess* process)
{
    return CFakeGame::Get().IsRunning(process);
}

bool PlatformRead(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size,
                  std::size_t& copied)
{
    return CFakeGame::Get().Read(process, address, buffer, size, copied);
}

void PlatformCloseProcess(PlatformProcess* process)
{
    CFakeGame::Get().Close(process);
}

bool PlatformListModules(PlatformPid pid, std::vector<PlatformModule>& modules)
{
    return CFakeGame::Get().ListModules(pid, modules);
}

bool PlatformModuleBase(PlatformProcess*, std::uint64_t base, std::uint64_t& reported)
{
    return CFakeGame::Get().ModuleBase(base, reported);
}

std::string PlatformLastProblem()
{
    return CFakeGame::Get().LastProblem();
}

std::string PlatformWindowProblem()
{
    return {}; // the fake desktop is always there
}
