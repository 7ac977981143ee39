#pragma once

#include <chrono>
#include <cstdint>

class CProcess;

enum GameKind
{
    GK_UNKNOWN = 0,
    GK_V2020 = 1,       // v2.0.2.0
    GK_V2021 = 2,       // v2.0.2.1
    GK_V2020_DDRAW = 3, // v2.0.2.0 with the DirectDraw wrapper
    GK_V2021_DDRAW = 4, // v2.0.2.1 with the DirectDraw wrapper
};

enum GameAddr
{
    GA_SCREEN_POINTER, // pointer to the game's own 8-bit screen buffer
    GA_PALETTE,        // 256 entries of red, green, blue, spare
    GA_CURSOR,         // mouse position: x low 16 bits, y high 16 bits
    GA_SCREEN_BITS,    // the variable holding the pointer to the picture to capture
    GA_SCREEN_SIZE,    // width low 16 bits, height high 16 bits
};

// The version byte's address and values, the same in both builds.
constexpr std::uint32_t kVersionByteAddress = 0x0048807B;
constexpr std::uint8_t kVersionByte2020 = 0x3D;
constexpr std::uint8_t kVersionByte2021 = 0x8B;

// Which of the four supported games runs, and where its variables lie.
//
// The wrapper lookup is the expensive part (a module search in the game: a
// parse of /proc/PID/maps on Linux, a module snapshot on Windows), far dearer
// than the rest of a capture tick. A wrapper may be loaded after the game
// started, so while none has been found it is looked for again, but at most
// once per kWrapperLookInterval rather than on every Detect: the first
// Detect after a Reset looks at once, and a wrapper loaded later is found by
// the first Detect that comes kWrapperLookInterval or more after the last
// look, so it goes unnoticed for at most that interval plus one tick period.
// The version byte, which never changes for a running game, is read only
// while the kind is unknown or in the call that first finds the wrapper; a
// different game (another build) is a different process, which the capture
// notices when Attach fails and answers with Reset.
class CGameLayout
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWrapperLookInterval{500};

    CGameLayout() = default;
    virtual ~CGameLayout() = default;

    // Raises std::runtime_error("x6") when a read or lookup inside fails.
    void Detect(CProcess& process) { Detect(process, Clock::now()); }
    // The same at a given time, which decides whether a missing wrapper is
    // looked for again.
    void Detect(CProcess& process, Clock::time_point now);
    // Raises std::runtime_error("x10") while the kind is unknown.
    std::uint32_t GetAddress(GameAddr entry) const;
    void Reset();
    int GetKind() const { return m_nKind; }
    std::uint32_t GetWrapperBits() const { return m_nWrapperBits; }

private:
    std::int32_t m_nKind = GK_UNKNOWN;
    std::uint32_t m_nWrapperBits = 0;
    bool m_bWrapperPending = true;
    // While the wrapper is pending: the earliest time of the next look; the
    // clock's minimum makes the next Detect look.
    Clock::time_point m_nextWrapperLook = Clock::time_point::min();
};

// The first four bytes of the game's own screen buffer on the in-game screen.
inline bool IsInGameSignature(std::uint32_t signature)
{
    return signature == 0x80808081u || signature == 0x64646464u;
}

// The text the user sees for a kind: "war2 v2.0.2.0" and so on.
const char* GameKindText(int kind);
// The text while no game is attached.
inline constexpr const char* kGameNotDetectedText = "war2 not detected";
