// A stand-in for the game in the tests of the Windows backend: a process
// with a top-level window of a title the test chooses and memory the test
// knows, which ends when the test says so.
//
// It fills a page with a known pattern (byte i = i * 7 + 3). Once its window
// exists it tells the test, on one line of standard output, the pattern's
// address, the page size, its own module base and the end of its image (the
// first address past the module, where nothing is mapped), then waits for a
// line on standard input (or its end) and exits with code 7.

#include <cstdint>
#include <cstdio>
#include <windows.h>

namespace
{
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: trellon-test-target TITLE\n");
        return 2;
    }
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const SIZE_T page = system.dwPageSize;
    auto* pages = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (pages == nullptr)
    {
        std::fprintf(stderr, "trellon-test-target: no memory\n");
        return 3;
    }
    for (SIZE_T i = 0; i < page; ++i)
        pages[i] = static_cast<std::uint8_t>(i * 7 + 3);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TrellonTestTarget";
    if (RegisterClassA(&windowClass) == 0 ||
        CreateWindowExA(0, windowClass.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 64, 48,
                        nullptr, nullptr, windowClass.hInstance, nullptr) == nullptr)
    {
        std::fprintf(stderr, "trellon-test-target: no window (error %lu)\n", GetLastError());
        return 4;
    }
    const auto* image = reinterpret_cast<const std::uint8_t*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const std::uintptr_t imageEnd = reinterpret_cast<std::uintptr_t>(image) +
                                    ((nt->OptionalHeader.SizeOfImage + page - 1) / page) * page;
    std::printf("%llu %llu %llu %llu\n",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pages)),
                static_cast<unsigned long long>(page),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(image)),
                static_cast<unsigned long long>(imageEnd));
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof(line), stdin);
    return 7;
}
