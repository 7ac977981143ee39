// The Windows backend against a real process: the test target (TestTarget.cpp)
// started beside this test, with a window of a title of the test's own, a
// page of known bytes, and its image followed by addresses where nothing is
// mapped.

#include "desktop/ProgramFolder.h"
#include "process/Platform.h"
#include "process/Process.h"
#include "tests/support/ErrorOf.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>
#include <windows.h>

namespace
{
std::filesystem::path ThisProgram()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::uint8_t Pattern(std::uint64_t i)
{
    return static_cast<std::uint8_t>(i * 7 + 3);
}

// The target process, with pipes to its standard input and output; ended
// (by closing its input) at the latest when the object goes.
class CTarget
{
public:
    explicit CTarget(const std::string& title)
    {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &m_hInput, &inherit, 0) ||
            !CreatePipe(&m_hOutput, &childOut, &inherit, 0))
            return;
        SetHandleInformation(m_hInput, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_hOutput, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const std::string exe = (ThisProgram().parent_path() / "trellon-test-target.exe").string();
        std::string command = "\"" + exe + "\" \"" + title + "\"";
        PROCESS_INFORMATION info{};
        const BOOL started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &info);
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (!started)
            return;
        CloseHandle(info.hThread);
        m_hProcess = info.hProcess;
        m_pid = info.dwProcessId;
        // One line: pattern address, page size, module base, image end.
        std::string line;
        char c = 0;
        DWORD read = 0;
        while (ReadFile(m_hOutput, &c, 1, &read, nullptr) && read == 1 && c != '\n')
            line += c;
        std::istringstream(line) >> m_nPattern >> m_nPage >> m_nModule >> m_nImageEnd;
    }
    ~CTarget()
    {
        End();
        if (m_hOutput != nullptr)
            CloseHandle(m_hOutput);
    }
    CTarget(const CTarget&) = delete;
    CTarget& operator=(const CTarget&) = delete;

    bool Ready() const { return m_hProcess != nullptr && m_nPattern != 0 && m_nImageEnd != 0; }

    // Asks the target to exit and waits for it; its exit code, or -1.
    long End()
    {
        if (m_hInput != nullptr)
        {
            DWORD written = 0;
            WriteFile(m_hInput, "exit\n", 5, &written, nullptr);
            CloseHandle(m_hInput);
            m_hInput = nullptr;
        }
        if (m_hProcess == nullptr)
            return -1;
        DWORD code = 0;
        const bool ended = WaitForSingleObject(m_hProcess, 30000) == WAIT_OBJECT_0 &&
                           GetExitCodeProcess(m_hProcess, &code);
        if (!ended)
            TerminateProcess(m_hProcess, 1);
        CloseHandle(m_hProcess);
        m_hProcess = nullptr;
        return ended ? static_cast<long>(code) : -1;
    }

    PlatformPid m_pid = 0;
    std::uint64_t m_nPattern = 0;
    std::uint64_t m_nPage = 0;
    std::uint64_t m_nModule = 0;
    std::uint64_t m_nImageEnd = 0;

private:
    HANDLE m_hProcess = nullptr;
    HANDLE m_hInput = nullptr;
    HANDLE m_hOutput = nullptr;
};

TEST(Win32Platform, FindsOpensAndReadsARunningProcess)
{
    const std::string title = "Trellon test target " + std::to_string(GetCurrentProcessId());
    CTarget target(title);
    ASSERT_TRUE(target.Ready());

    std::uint64_t window = 0;
    EXPECT_EQ(PlatformFindWindowProcess(title.c_str(), window), target.m_pid);
    EXPECT_NE(window, 0u);
    EXPECT_EQ(PlatformFindWindowProcess((title + " 2").c_str(), window), 0u);
    EXPECT_EQ(window, 0u);
    EXPECT_EQ(PlatformWindowProblem(), "");

    PlatformProcess* process = PlatformOpenProcess(target.m_pid);
    ASSERT_NE(process, nullptr) << PlatformLastProblem();
    EXPECT_EQ(PlatformLastProblem(), "");
    EXPECT_TRUE(PlatformIsRunning(process));

    const std::uint64_t page = target.m_nPage;
    std::vector<std::uint8_t> bytes(3 * page, 0xEE);
    std::size_t copied = 0;
    // The whole committed page.
    ASSERT_TRUE(PlatformRead(process, target.m_nPattern, bytes.data(), page, copied));
    EXPECT_EQ(copied, page);
    for (std::uint64_t i = 0; i < page; ++i)
        ASSERT_EQ(bytes[i], Pattern(i)) << "at " << i;

    // Across the end of the target's image: the bytes before the gap,
    // counted, the same as read on their own.
    std::vector<std::uint8_t> tail(5);
    ASSERT_TRUE(PlatformRead(process, target.m_nImageEnd - 5, tail.data(), 5, copied));
    ASSERT_EQ(copied, 5u);
    std::fill(bytes.begin(), bytes.end(), 0xEE);
    ASSERT_TRUE(PlatformRead(process, target.m_nImageEnd - 5, bytes.data(), 16, copied));
    EXPECT_EQ(copied, 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 5), tail);
    // A long read from the middle of the last page into the gap.
    ASSERT_TRUE(
        PlatformRead(process, target.m_nImageEnd - page + 100, bytes.data(), 2 * page, copied));
    EXPECT_EQ(copied, page - 100);

    // Nothing there at all.
    EXPECT_FALSE(PlatformRead(process, target.m_nImageEnd, bytes.data(), 4, copied));
    EXPECT_EQ(copied, 0u);
    EXPECT_FALSE(PlatformRead(process, 0, bytes.data(), 4, copied));
    EXPECT_EQ(copied, 0u);
    EXPECT_TRUE(PlatformRead(process, target.m_nPattern, bytes.data(), 0, copied));
    EXPECT_EQ(copied, 0u);

    PlatformCloseProcess(process);
}

TEST(Win32Platform, ListsModulesAndConfirmsTheirBases)
{
    const std::string title = "Trellon module target " + std::to_string(GetCurrentProcessId());
    CTarget target(title);
    ASSERT_TRUE(target.Ready());

    std::vector<PlatformModule> modules;
    ASSERT_TRUE(PlatformListModules(target.m_pid, modules));
    const auto exe =
        std::find_if(modules.begin(), modules.end(),
                     [](const PlatformModule& m) { return m.name == "trellon-test-target.exe"; });
    ASSERT_NE(exe, modules.end());
    EXPECT_EQ(exe->base, target.m_nModule);
    const bool hasKernel = std::any_of(modules.begin(), modules.end(),
                                       [](const PlatformModule& m)
                                       { return _stricmp(m.name.c_str(), "kernel32.dll") == 0; });
    EXPECT_TRUE(hasKernel);
    // Names without their folder.
    for (const PlatformModule& module : modules)
        EXPECT_EQ(module.name.find_first_of("\\/"), std::string::npos) << module.name;

    PlatformProcess* process = PlatformOpenProcess(target.m_pid);
    ASSERT_NE(process, nullptr) << PlatformLastProblem();
    std::uint64_t reported = 0;
    EXPECT_TRUE(PlatformModuleBase(process, target.m_nModule, reported));
    EXPECT_EQ(reported, target.m_nModule);
    EXPECT_FALSE(PlatformModuleBase(process, target.m_nModule + 0x1000, reported));
    EXPECT_FALSE(PlatformModuleBase(process, 0, reported));
    PlatformCloseProcess(process);

    // Id 0 is no process (Toolhelp would list this program's own modules).
    EXPECT_FALSE(PlatformListModules(0, modules));
}

TEST(Win32Platform, SeesTheProcessEndAndCannotOpenItAfterwards)
{
    const std::string title = "Trellon ending target " + std::to_string(GetCurrentProcessId());
    CTarget target(title);
    ASSERT_TRUE(target.Ready());
    PlatformProcess* process = PlatformOpenProcess(target.m_pid);
    ASSERT_NE(process, nullptr) << PlatformLastProblem();
    EXPECT_TRUE(PlatformIsRunning(process));

    EXPECT_EQ(target.End(), 7);
    EXPECT_FALSE(PlatformIsRunning(process));
    std::uint8_t byte = 0;
    std::size_t copied = 0;
    EXPECT_FALSE(PlatformRead(process, target.m_nPattern, &byte, 1, copied));
    PlatformCloseProcess(process);

    std::uint64_t window = 0;
    EXPECT_EQ(PlatformFindWindowProcess(title.c_str(), window), 0u);
    // Opened again by its id, the ended process is refused with a reason
    // that names it, or (while the system still keeps it) not running.
    PlatformProcess* again = PlatformOpenProcess(target.m_pid);
    if (again == nullptr)
        EXPECT_NE(PlatformLastProblem().find(std::to_string(target.m_pid)), std::string::npos)
            << PlatformLastProblem();
    else
        EXPECT_FALSE(PlatformIsRunning(again));
    PlatformCloseProcess(again);
}

// CProcess over this backend, with the target in the game's place: its image
// lies below 4 GiB (linked at a fixed base), so the end of the image is a
// game address at which a read runs short.
TEST(Win32Process, AttachesByTheGameTitleAndTellsShortReadsFromFailedOnes)
{
    if (FindWindowA(nullptr, CProcess::kGameTitle) != nullptr)
        GTEST_SKIP() << "a window titled \"" << CProcess::kGameTitle << "\" is open already";
    CTarget target(CProcess::kGameTitle);
    ASSERT_TRUE(target.Ready());
    ASSERT_LT(target.m_nImageEnd, 0x100000000u);
    const auto end = static_cast<std::uint32_t>(target.m_nImageEnd);

    CProcess process;
    ASSERT_TRUE(process.Attach()) << process.GetProblem();
    EXPECT_EQ(ErrorOf([&] { process.ReadDword(end - 4); }), "");
    EXPECT_EQ(ErrorOf([&] { process.ReadDword(end - 3); }), "x3"); // 3 of 4 bytes
    EXPECT_EQ(ErrorOf([&] { process.ReadDword(end); }), "x2");
    EXPECT_EQ(ErrorOf([&] { process.ReadWord(end - 1); }), ""); // the count is not looked at
    EXPECT_EQ(ErrorOf([&] { process.ReadWord(end); }), "x4");
    EXPECT_EQ(ErrorOf([&] { process.ReadByte(end); }), "x1");
    std::uint8_t block[8] = {};
    EXPECT_TRUE(process.ReadBlock(end - 2, block, sizeof(block)));
    EXPECT_EQ(ErrorOf([&] { process.ReadBlock(end, block, sizeof(block)); }), "x5");
    EXPECT_TRUE(process.IsAttached()); // failed reads leave it attached

    EXPECT_EQ(target.End(), 7);
    EXPECT_FALSE(process.Attach());
    EXPECT_EQ(process.ReadDword(end - 4), 0u);
    EXPECT_FALSE(process.Attach()); // no window to find any more
}

TEST(Win32Platform, RefusesWhatIsNoProcess)
{
    EXPECT_EQ(PlatformOpenProcess(0), nullptr);
    EXPECT_NE(PlatformLastProblem(), "");
    EXPECT_FALSE(PlatformIsRunning(nullptr));
    std::size_t copied = 5;
    std::uint8_t byte = 0;
    EXPECT_FALSE(PlatformRead(nullptr, 0x1000, &byte, 1, copied));
    EXPECT_EQ(copied, 0u);
    std::uint64_t reported = 0;
    EXPECT_FALSE(PlatformModuleBase(nullptr, 0x400000, reported));
    std::uint64_t window = 1;
    EXPECT_EQ(PlatformFindWindowProcess(nullptr, window), 0u);
    EXPECT_EQ(window, 0u);
    PlatformCloseProcess(nullptr);
}

TEST(Win32Platform, ProgramDirectoryIsTheFolderOfThisProgram)
{
    const std::string dir = PlatformProgramDirectory();
    ASSERT_NE(dir, "");
    EXPECT_TRUE(std::filesystem::equivalent(dir, ThisProgram().parent_path())) << dir;
}
} // namespace
