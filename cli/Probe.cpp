// trellon probe: looks for the game as a capture would and says what it found.

#include "capture/GameLayout.h"
#include "cli/Commands.h"
#include "process/Process.h"
#include "process/ReadError.h"

#include <cstdio>
#include <stdexcept>

int RunProbe(const std::vector<std::string>& args)
{
    if (!args.empty())
        return UsageError("probe takes no arguments");
    std::uint64_t window = 0;
    const PlatformPid pid = PlatformFindWindowProcess(CProcess::kGameTitle, window);
    if (pid == 0 && !PlatformWindowProblem().empty())
        return Fail(PlatformWindowProblem());
    if (pid == 0)
    {
        std::printf("Window:     none titled \"%s\" (%s)\n", CProcess::kGameTitle,
                    kGameNotDetectedText);
        return 1;
    }
    std::printf("Window:     0x%llx \"%s\"\n", static_cast<unsigned long long>(window),
                CProcess::kGameTitle);
    std::printf("Process:    %u\n", pid);

    CProcess process;
    if (!process.Attach())
    {
        std::printf("Readable:   no\n");
        const std::string& problem = process.GetProblem();
        return Fail(problem.empty() ? "the game's process ended or can't be opened" : problem);
    }
    std::printf("Readable:   yes\n");

    CGameLayout layout;
    try
    {
        layout.Detect(process);
    }
    catch (const std::runtime_error&)
    {
        return Fail(std::string("the game's memory can't be read at the version byte (") +
                    kErrDetectVersion + ")");
    }
    std::printf("Kind:       %s\n", GameKindText(layout.GetKind()));
    if (layout.GetWrapperBits() != 0)
        std::printf("Wrapper:    pvBmpBits at 0x%08X\n", layout.GetWrapperBits());
    else
        std::printf("Wrapper:    none\n");
    if (layout.GetKind() == GK_UNKNOWN)
        return 1;
    try
    {
        const std::uint32_t size = process.ReadDword(layout.GetAddress(GA_SCREEN_SIZE));
        const std::uint32_t screen = process.ReadDword(layout.GetAddress(GA_SCREEN_POINTER));
        const std::uint32_t bits = process.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
        std::printf("Screen:     %u x %u\n", size & 0xFFFFu, size >> 16);
        std::printf("Picture:    0x%08X\n", bits);
        const std::uint32_t signature = process.ReadDword(screen);
        std::printf("Signature:  0x%08X (%s)\n", signature,
                    signature == 0x80808081u || signature == 0x64646464u ? "in game"
                                                                         : "not in game");
    }
    catch (const std::runtime_error& e)
    {
        return Fail(std::string("reading the game's screen variables failed (") + e.what() + ")");
    }
    return 0;
}
