// A stored frame prepared for painting, in place in the frame buffer: a
// bitmap header, the colour table in blue, green, red order, the picture.

#include "base/ByteOrder.h"
#include "capture/Capture.h"
#include "capture/GameLayout.h"
#include "process/Process.h"
#include "process/ReadError.h"
#include "video/Video.h"

#include <cstring>
#include <stdexcept>

DisplayFrame PrepareDisplayFrame(CaptureParts& parts, int index)
{
    try
    {
        // While the game shows its in-game screen the window keeps what it has.
        if (parts.process.Attach())
        {
            const std::uint32_t ownScreen =
                parts.process.ReadDword(parts.layout.GetAddress(GA_SCREEN_POINTER));
            if (IsInGameSignature(parts.process.ReadDword(ownScreen)))
                return {};
        }

        const std::size_t pictureBytes =
            static_cast<std::size_t>(parts.width) * static_cast<std::size_t>(parts.height);
        if (parts.width != parts.video.GetWidth() || parts.height != parts.video.GetHeight() ||
            kDisplayHeaderBytes + pictureBytes > parts.frameBytes)
            return {}; // a size this buffer can't show (only a failed load leaves one)
        std::uint8_t* const header = parts.frame;
        std::uint8_t* const picture = header + kDisplayHeaderBytes;
        if (parts.video.GetFrameCount() >= 1)
        {
            if (!parts.video.GetFrame(index, picture, parts.showCursor))
                return {};
        }
        else
            std::memset(picture, 0, pictureBytes);

        std::memset(header, 0, 40);
        StoreLe32(header + 0, 40);
        StoreLe32(header + 4, static_cast<std::uint32_t>(parts.width));
        StoreLe32(header + 8, static_cast<std::uint32_t>(-parts.height)); // rows run top to bottom
        StoreLe16(header + 12, 1);
        StoreLe16(header + 14, 8);
        StoreLe32(header + 20, static_cast<std::uint32_t>(pictureBytes));
        StoreLe32(header + 24, 1000);
        StoreLe32(header + 28, 1000);

        std::uint8_t* const colours = header + 40;
        if (!parts.video.GetPalette(index, colours))
            for (int n = 0; n < 256; ++n)
            {
                const auto grey = static_cast<std::uint8_t>(n);
                colours[4 * n] = colours[4 * n + 1] = colours[4 * n + 2] = grey;
                colours[4 * n + 3] = 0;
            }
        for (int n = 0; n < 256; ++n)
            std::swap(colours[4 * n], colours[4 * n + 2]); // red, green, blue -> blue, green, red
        return {header, picture};
    }
    catch (const std::runtime_error&)
    {
        throw std::runtime_error(kErrDisplayFrame);
    }
}
