// Maps any bytes as the image of the game's "ddraw.dll" (and the same bytes
// again as "ntdll.dll", so forwarders have a second module to reach) and
// walks its exports by name, by ordinal and through forwarders.
#include "process/Process.h"
#include "process/RemoteExports.h"
#include "process/fake/FakeGame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint32_t kBase = 0x10000000;
    constexpr std::uint32_t kOtherBase = 0x20000000;
    CFakeGame& game = CFakeGame::Get();
    game.Reset();
    game.ShowWindow(CProcess::kGameTitle, 1);
    game.Map(kBase, std::vector<std::uint8_t>(data, data + size));
    game.Map(kOtherBase, std::vector<std::uint8_t>(data, data + size));
    game.AddModule("ddraw.dll", kBase);
    game.AddModule("ntdll.dll", kOtherBase);

    CProcess process;
    if (!process.Attach())
        return 0;
    process.GetScreenBitsAddress();
    PlatformProcess* handle = process.GetHandle();
    for (const char* name : {"", "pvBmpBits", "Rtl"})
        GetRemoteProcAddress(handle, kBase, name, 0, false);
    for (std::uint32_t ordinal : {0u, 1u, 2u, 10u, 65536u, 0xFFFFFFFFu})
        GetRemoteProcAddress(handle, kBase, nullptr, ordinal, true);
    return 0;
}
