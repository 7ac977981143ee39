#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The demo game's memory as TrellonHD sees it: the game's variables at the
// fixed addresses of the chosen build, its screen buffer, and with a wrapper
// a "ddraw.dll" image whose exported variable pvBmpBits holds the address of
// the picture actually shown. Everything lies below 4 GiB, where the game's
// 32-bit addresses point.
class CGameMemory
{
public:
    // The demo's own variable, beside the game's: the number of the frame now
    // in the screen buffers, or kFrameBusy while a frame is being drawn. A
    // reader that sees the same number before and after reading a picture
    // knows which scene frame it read.
    static constexpr std::uint32_t kFrameCounterAddress = 0x004F0000;
    static constexpr std::uint32_t kFrameBusy = 0xFFFFFFFF;

    static constexpr std::uint32_t kScreenAddress = 0x20000000; // the game's own buffer
    static constexpr std::uint32_t kWrapperScreenAddress = 0x28000000;
    static constexpr std::uint32_t kWrapperBase = 0x10000000; // where ddraw.dll is mapped
    static constexpr std::uint32_t kUnitRecords = 0x24000000; // the units' records
    static constexpr std::uint32_t kUnitRecordBytes = 256;
    static constexpr std::uint32_t kMaxUnits = 256;
    static constexpr std::uint32_t kMapUnitTable = 0x26000000; // one unit pointer per map tile
    static constexpr std::uint32_t kMapTiles = 256 * 256;

    CGameMemory() = default;
    ~CGameMemory();
    CGameMemory(const CGameMemory&) = delete;
    CGameMemory& operator=(const CGameMemory&) = delete;

    // Maps everything; false with `error` set when an address is taken. A
    // non-empty `wrapperName` loads the wrapper from a file of that name.
    bool Create(bool build2021, const std::string& wrapperName, int width, int height,
                std::string& error);
    // Loads the wrapper into the running game, as a game does that loads it
    // itself: its buffer first, holding `picture`, then the library, whose
    // pvBmpBits already points at the buffer when the module list first
    // names it, so that no reader finds the wrapper without its picture.
    bool AddWrapper(const std::string& wrapperName, const std::uint8_t* picture,
                    std::string& error);

    std::uint8_t* Screen() const { return m_pScreen; }
    // The wrapper's buffer once the wrapper is loaded; null before.
    std::uint8_t* WrapperScreen() const { return m_bWrapperLoaded ? m_pWrapperScreen : nullptr; }
    // The picture shown: the wrapper's buffer when there is one.
    std::uint8_t* Shown() const { return m_bWrapperLoaded ? m_pWrapperScreen : m_pScreen; }
    void SetPalette(const std::uint8_t* palette); // 1024 bytes
    void SetCursor(std::uint32_t cursor);
    void SetFrameNumber(std::uint32_t frame);
    // The bytes at a game address: the variables (0x00400000 .. 0x00500000,
    // less the executable's headers on Windows), the unit records and the
    // map's unit table. Null for any other address.
    std::uint8_t* At(std::uint32_t address) const;

private:
    // The platform's part (linux/GameMemoryLinux.cpp, win32/GameMemoryWin32.cpp):
    // the variables' block, memory at a fixed address, and the wrapper loaded
    // so that the process's module list names it. ReleaseAll undoes all three.
    bool MapVariables(std::string& error);
    std::uint8_t* MapAt(std::uint32_t address, std::size_t size, std::string& error);
    // Loads the wrapper image so that the module list names it.
    bool LoadWrapper(const std::string& wrapperName, std::string& error);
    void ReleaseAll();

    // The wrapper's image: exports pvBmpBits, which holds the wrapper's
    // buffer's address, and, after it in the name table, a longer name that
    // contains it. `bitsRva` is pvBmpBits's place.
    static std::vector<std::uint8_t> WrapperImage(const std::string& wrapperName, bool pe32Plus,
                                                  std::uint32_t imageBase, std::uint32_t& bitsRva);
    // A variable at a fixed address inside the variables' block.
    std::uint8_t* Variable(std::uint32_t address) const;

    bool m_b2021 = false;
    // The game's variables: m_nVariablesBegin .. m_nVariablesEnd, at least
    // the part of 0x00400000 .. 0x00500000 that the demo writes.
    std::uint8_t* m_pVariables = nullptr;
    std::uint32_t m_nVariablesBegin = 0;
    std::uint32_t m_nVariablesEnd = 0;
    std::uint8_t* m_pScreen = nullptr;
    std::uint8_t* m_pWrapperScreen = nullptr;
    bool m_bWrapperLoaded = false;
    void* m_pWrapperImage = nullptr; // the mapping, or the loaded module
    std::uint8_t* m_pUnits = nullptr;
    std::uint8_t* m_pMapTable = nullptr;
    std::size_t m_nScreenBytes = 0;
    std::size_t m_nWrapperImageBytes = 0;
    std::string m_strWrapperDir; // the wrapper file's folder, while it exists
};
