// The capture tick: one picture of the running game into the video.

#include "base/ByteOrder.h"
#include "capture/Capture.h"
#include "capture/GameLayout.h"
#include "process/Process.h"
#include "process/ReadError.h"
#include "video/Video.h"

#include <cstring>
#include <stdexcept>

namespace
{
// True when every sampled byte (offsets 0, s, 2s, ... with s = 2 x width +
// 297) equals the first: a picture of one colour, which is not recorded.
bool LooksBlank(const std::uint8_t* picture, std::size_t size, int width)
{
    const std::size_t step = 2 * static_cast<std::size_t>(width) + 297;
    const std::uint8_t first = picture[0];
    for (std::size_t at = 0; at < size; at += step)
        if (picture[at] != first)
            return false;
    return true;
}
} // namespace

int CaptureTick(CaptureParts& parts, CaptureOutcome& outcome)
{
    outcome = CaptureOutcome{};
    CProcess& game = parts.process;
    CGameLayout& layout = parts.layout;
    if (!game.Attach())
    {
        layout.Reset();
        return 0;
    }
    try
    {
        layout.Detect(game);

        const std::uint32_t size = game.ReadDword(layout.GetAddress(GA_SCREEN_SIZE));
        const int width = static_cast<int>(size & 0xFFFFu);
        const int height = static_cast<int>(static_cast<std::int32_t>(size) >> 16);
        // A size the codec can't take, or whose picture (with the display's
        // header behind which it is shown later) does not fit the frame
        // buffer, is not read: the frame is skipped.
        if (!IsValidPictureSize(width, height) ||
            kDisplayHeaderBytes +
                    static_cast<std::size_t>(width) * static_cast<std::size_t>(height) >
                parts.frameBytes)
            return 1;
        outcome.gameWidth = width;
        outcome.gameHeight = height;
        if (width != parts.width || height != parts.height)
        {
            // A video that holds frames keeps their size: the tick records
            // nothing, and the caller decides where the new size goes.
            if (parts.video.GetFrameCount() >= 1)
            {
                outcome.sizeChanged = true;
                return 1;
            }
            parts.width = width;
            parts.height = height;
            parts.video.SetGeometry(width, width, height, 0, 0);
        }

        const std::uint32_t ownScreen = game.ReadDword(layout.GetAddress(GA_SCREEN_POINTER));
        const bool inGame = IsInGameSignature(game.ReadDword(ownScreen));

        // The picture goes straight into the frame buffer: one read, no copy.
        const std::uint32_t bits = game.ReadDword(layout.GetAddress(GA_SCREEN_BITS));
        const std::size_t pictureBytes =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        if (!game.ReadBlock(bits, parts.frame, pictureBytes))
            return 1;
        if (LooksBlank(parts.frame, pictureBytes, width))
            return 1;

        std::uint8_t palette[kPaletteBytes];
        if (!game.ReadBlock(layout.GetAddress(GA_PALETTE), palette, sizeof(palette)))
            return 1;
        std::uint8_t cursorBytes[4];
        if (!game.ReadBlock(layout.GetAddress(GA_CURSOR), cursorBytes, sizeof(cursorBytes)))
            return 1;
        std::uint32_t cursor = LoadLe32(cursorBytes);

        // The statistics panel, and with it the unit markers, on the in-game
        // screen of v2.0.2.0 only: the other build's tables are not known.
        const int kind = layout.GetKind();
        if (inGame && parts.showStats && (kind == GK_V2020 || kind == GK_V2020_DDRAW))
            DrawOverlay(parts, cursor);

        outcome.outOfMemory = parts.video.AddFrame(cursor, palette, parts.frame) == AF_NO_MEMORY;
        return 1;
    }
    catch (const std::runtime_error&)
    {
        throw std::runtime_error(kErrCapture);
    }
}
