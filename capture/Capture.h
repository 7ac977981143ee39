#pragma once

#include "capture/Overlay.h"

#include <cstddef>
#include <cstdint>

class CBitmap8Group;
class CGameLayout;
class CProcess;
class CVideo;

// The capture subsystem's operations: one capture tick (a picture of the
// running game into the video), the statistics panel and unit markers drawn
// into it, and a stored frame prepared for painting. They work on parts the
// video manager owns, which it hands over for the call in a CaptureParts;
// nothing here owns anything or keeps state between calls.

// A frame ready for painting: a 40-byte bitmap header followed by a 256-entry
// colour table (blue, green, red, 0), and the picture; both null when there
// is nothing to paint.
struct DisplayFrame
{
    const std::uint8_t* info = nullptr;
    const std::uint8_t* pixels = nullptr;
};

// The display image's header and colour table in front of its picture.
inline constexpr std::size_t kDisplayHeaderBytes = 1064;

struct CaptureParts
{
    CProcess& process;
    CGameLayout& layout;
    CVideo& video;
    std::uint8_t* frame; // the frame buffer: capture target, then display image
    std::size_t frameBytes;
    // The picture size, which the capture follows while the video is empty.
    std::int32_t& width;
    std::int32_t& height;
    const CBitmap8Group& font1;
    const CBitmap8Group& font2;
    const CBitmap8Group& units;
    PanelState& panel;      // the last overlay call's reading of the game
    TeamMemory& teamMemory; // kept for the program's whole run
    bool showStats = false; // the check box "S&tats"
    bool showPlus = false;  // the check box "+"
    bool showCursor = true; // the check box "S&how Cursor"
};

// What one capture tick found besides its result.
struct CaptureOutcome
{
    bool outOfMemory = false; // the frame could not be stored
    // The game's picture has another size than the frames the video holds:
    // nothing was recorded (a video keeps one size).
    bool sizeChanged = false;
    std::int32_t gameWidth = 0; // as the game reported it, when it was read
    std::int32_t gameHeight = 0;
};

// One capture tick: 0 when no running game could be attached, 1 otherwise;
// raises std::runtime_error(kErrCapture) when a read of the game fails.
int CaptureTick(CaptureParts& parts, CaptureOutcome& outcome);
// The statistics panel (and with showPlus the unit markers) over the
// captured picture; may move the cursor with the panel's content. Reads
// raise as the capture's do; a read that comes short ends the drawing.
void DrawOverlay(CaptureParts& parts, std::uint32_t& cursor);
void DrawUnitMarker(CaptureParts& parts, const UnitRecord& record, std::uint32_t unit, int type,
                    bool counted, int viewX, int viewY);
// Frame `index` of the video prepared for painting in the frame buffer;
// raises std::runtime_error(kErrDisplayFrame) when a read of the game fails.
DisplayFrame PrepareDisplayFrame(CaptureParts& parts, int index);
