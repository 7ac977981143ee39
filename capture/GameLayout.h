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
// than the rest of a capture tick. A wrapper is loaded as the game starts,
// which is also when a recording that waits for the game begins, so a
// missing wrapper is looked for on every Detect during the first
// kWrapperEarlyWindow of each game (counted from the first Detect after
// construction or a Reset, that is from the tick that first meets the
// process) and found by the first Detect after it loads. Later a game
// rarely loads one, and the lookup is repeated at most once per
// kWrapperLookInterval, counted from the last look: a wrapper loaded then
// goes unnoticed for at most that interval plus one tick period. Once found
// it is not looked for again. The version byte, which never changes for a
// running game, is read only while the kind is unknown or in the call that
// first finds the wrapper; a different game (another build) is a different
// process, which the capture notices when Attach fails and answers with
// Reset, so the next game has an early window of its own.
class CGameLayout
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWrapperLookInterval{500};
    // How long after meeting a game every Detect looks for a missing
    // wrapper. A "ddraw.dll" the game imports is mapped by the system's
    // loader before the game's first instruction runs, so before the window
    // by which the game is found; one the game loads itself comes when it
    // creates its DirectDraw object, which needs that window (the
    // cooperative level is set on it), so it follows the window by no more
    // than the start-up work between the two: a fraction of a second, a few
    // seconds on a slow or busy machine. Ten seconds cover that several
    // times over at a small price: only a game without a wrapper pays it,
    // once, about 0.4 ms a tick for the Linux recorder of a game under Wine
    // (docs/PERFORMANCE.md gives the figures).
    static constexpr std::chrono::seconds kWrapperEarlyWindow{10};
    // Inside the early window a look waits until this many times the last
    // look's cost has passed since it began, so that looking never takes
    // more than a quarter of the time: where a look is cheap next to a tick
    // (the Linux recorder, about 0.4 ms) every tick looks, where it is dear
    // (a module snapshot under Wine, 4 to 27 ms) the ticks between looks
    // keep the recording's rate.
    static constexpr int kEarlyLookSpacing = 4;

    CGameLayout() = default;
    virtual ~CGameLayout() = default;

    // Raises std::runtime_error(kErrDetectVersion) when a read or lookup inside fails.
    void Detect(CProcess& process) { Detect(process, Clock::now()); }
    // The same at a given time, which decides whether a missing wrapper is
    // looked for again.
    void Detect(CProcess& process, Clock::time_point now);
    // Raises std::runtime_error(kErrAddressTable) while the kind is unknown.
    std::uint32_t GetAddress(GameAddr entry) const;
    void Reset();
    int GetKind() const { return m_nKind; }
    std::uint32_t GetWrapperBits() const { return m_nWrapperBits; }

private:
    std::int32_t m_nKind = GK_UNKNOWN;
    std::uint32_t m_nWrapperBits = 0;
    bool m_bWrapperPending = true;
    // The end of this game's early window; the clock's minimum until the
    // first Detect after construction or a Reset sets it.
    Clock::time_point m_earlyLooksEnd = Clock::time_point::min();
    // While the wrapper is pending: the earliest time of the next look once
    // the early window is over.
    Clock::time_point m_nextWrapperLook = Clock::time_point::min();
    // Inside the early window: the earliest time of the next look.
    Clock::time_point m_nextEarlyLook = Clock::time_point::min();
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
