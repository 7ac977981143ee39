// gamesim: the demo game. A process that looks, to TrellonHD, like the game:
// the variables of the chosen build at their fixed addresses, a screen
// buffer with a scene that changes at a steady rate, a window titled
// "WARCRAFT II", and optionally a ddraw.dll wrapper whose pvBmpBits points at
// the picture shown. On Linux it stands for the game running under Wine; the
// Windows build runs on Windows or itself under Wine.

#include "tools/gamesim/GameMemory.h"
#include "tools/gamesim/RtsScene.h"
#include "tools/gamesim/SimScene.h"
#include "tools/gamesim/SimSound.h"
#include "tools/gamesim/SimWindow.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: gamesim [--build 2020|2021] [--ddraw | --ddraw-name NAME] [--size WxH] [--seed N] "
    "[--fps N]\n"
    "               [--frames N] [--menu-every S] [--ddraw-after S] [--sound | --sound-hz N]\n"
    "The demo game: shows the benchmark scene in a window titled \"WARCRAFT II\"\n"
    "with the game's variables at the chosen build's addresses.\n"
    "  --build       2020 for v2.0.2.0 (default), 2021 for v2.0.2.1\n"
    "  --ddraw       load a ddraw.dll wrapper exporting pvBmpBits\n"
    "  --ddraw-name  the same, with the wrapper's file named NAME (DDRAW.DLL, say)\n"
    "  --ddraw-after\n"
    "                load the wrapper S seconds (0.001 to 3600) after the window\n"
    "                appears rather than before, as a game that loads it itself\n"
    "  --size        picture size, 320x200 to 1920x1080 (default 640x480)\n"
    "  --seed        scene seed (default 1)\n"
    "  --fps         frames per second, 1 to 200 (default 30)\n"
    "  --frames      exit after N frames (default: run until the window closes)\n"
    "  --menu-every  switch between the menu and the game every S seconds\n"
    "  --sound       play a beep every second (1000 Hz) and show a white square in\n"
    "                the picture's top-left corner while it is heard\n"
    "  --sound-hz    the same at N Hz (20 to 20000)\n"
    "  --version     print the version and exit\n";

// The palette entry of the beep's square: white in the game's palette (and
// the brightest grey of the menu's darkened one, where nothing is white).
constexpr std::uint8_t kBeepColour = 255;
constexpr int kBeepSide = 32;

// Paints the beep's square into the picture the recorder reads. The frame
// counter says "busy" meanwhile, as while the scene is drawn, and the
// game's signature in the first four bytes is kept.
void PaintBeep(CGameMemory& memory, int frame, int width)
{
    std::uint8_t* picture = memory.Shown();
    std::uint8_t signature[4];
    std::memcpy(signature, picture, sizeof signature);
    memory.SetFrameNumber(CGameMemory::kFrameBusy);
    for (int y = 0; y < kBeepSide; ++y)
        std::memset(picture + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    kBeepColour, kBeepSide);
    if (picture == memory.Screen())
        std::memcpy(picture, signature, sizeof signature);
    memory.SetFrameNumber(static_cast<std::uint32_t>(frame));
}

bool Number(const char* text, int& value)
{
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

// Seconds as a decimal number, such as 2 or 2.25.
bool Seconds(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0.001 && value <= 3600;
}

int Usage(const std::string& message)
{
    std::fprintf(stderr, "gamesim: %s\n%s", message.c_str(), kUsage);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    double soundHz = 0; // 0: silent
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "-h" || arg == "--help")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version")
        {
            std::printf("gamesim %s\n", TRELLON_VERSION);
            return 0;
        }
        if (arg == "--ddraw")
            options.wrapper = true;
        else if (arg == "--ddraw-name" && more)
        {
            options.wrapper = true;
            options.wrapperName = argv[++i];
            if (options.wrapperName.empty() ||
                options.wrapperName.find_first_of("/\\:") != std::string::npos)
                return Usage("--ddraw-name takes a file name");
        }
        else if (arg == "--ddraw-after" && more)
        {
            options.wrapper = true;
            if (!Seconds(argv[++i], options.wrapperAfter))
                return Usage("--ddraw-after takes seconds from 0.001 to 3600");
        }
        else if (arg == "--build" && more)
        {
            const std::string build = argv[++i];
            if (build != "2020" && build != "2021")
                return Usage("--build is 2020 or 2021");
            options.build2021 = build == "2021";
        }
        else if (arg == "--size" && more)
        {
            const std::string size = argv[++i];
            const auto x = size.find('x');
            if (x == std::string::npos || !Number(size.substr(0, x).c_str(), options.width) ||
                !Number(size.substr(x + 1).c_str(), options.height) || options.width < 320 ||
                options.height < 200 || options.width > 1920 || options.height > 1080)
                return Usage("--size takes WxH from 320x200 to 1920x1080");
        }
        else if (arg == "--seed" && more)
        {
            if (!Number(argv[++i], options.seed))
                return Usage("--seed takes a number");
        }
        else if (arg == "--fps" && more)
        {
            if (!Number(argv[++i], options.fps) || options.fps < 1 || options.fps > 200)
                return Usage("--fps takes 1 to 200");
        }
        else if (arg == "--frames" && more)
        {
            if (!Number(argv[++i], options.frames) || options.frames < 0)
                return Usage("--frames takes a number of frames");
        }
        else if (arg == "--menu-every" && more)
        {
            if (!Number(argv[++i], options.menuEvery) || options.menuEvery < 0)
                return Usage("--menu-every takes seconds");
        }
        else if (arg == "--sound")
            soundHz = 1000;
        else if (arg == "--sound-hz" && more)
        {
            int hz = 0;
            if (!Number(argv[++i], hz) || hz < 20 || hz > 20000)
                return Usage("--sound-hz takes 20 to 20000");
            soundHz = hz;
        }
        else
            return Usage("unknown option or missing value: " + arg);
    }

    CGameMemory memory;
    std::string error;
    const bool lateWrapper = options.wrapper && options.wrapperAfter > 0;
    if (!memory.Create(options.build2021,
                       options.wrapper && !lateWrapper ? options.wrapperName : std::string(),
                       options.width, options.height, error))
    {
        std::fprintf(stderr, "gamesim: %s\n", error.c_str());
        return 1;
    }
    // The first frame is in place before the window appears, so that whoever
    // finds the game never sees its buffers before they hold a picture.
    CSimScene scene(options);
    scene.Draw(0, memory);
    CSimWindow window;
    if (!window.Open("WARCRAFT II", options.width, options.height, error))
    {
        std::fprintf(stderr, "gamesim: %s\n", error.c_str());
        return 1;
    }
    std::string wrapperText;
    if (options.wrapper)
    {
        wrapperText = " with " + options.wrapperName;
        if (lateWrapper)
        {
            char after[64];
            std::snprintf(after, sizeof after, " from %g s", options.wrapperAfter);
            wrapperText += after;
        }
    }
    std::printf("gamesim: build v2.0.2.%d%s, %dx%d at %d fps\n", options.build2021 ? 1 : 0,
                wrapperText.c_str(), options.width, options.height, options.fps);
    std::fflush(stdout);

    // Opened once the window is up, so that the first beep is not heard
    // before there is a game to record.
    CSimSound sound;
    bool sounding = false;
    if (soundHz > 0)
    {
        sounding = sound.Open(soundHz, error);
        if (sounding)
            std::printf("gamesim: beeping at %g Hz\n", soundHz);
        else
            std::printf("gamesim: no sound (%s); going on silent\n", error.c_str());
        std::fflush(stdout);
    }

    const auto period = std::chrono::microseconds(1000000 / options.fps);
    const auto appeared = std::chrono::steady_clock::now();
    auto next = appeared;
    // A late wrapper loads between the frame before its first and that frame
    // itself, holding the picture of the frame on show.
    const int wrapperFrame = lateWrapper ? scene.FirstWrapperFrame() : -1;
    std::vector<std::uint8_t> picture;
    for (int frame = 0; options.frames == 0 || frame < options.frames; ++frame)
    {
        if (frame > 0)
            scene.Draw(frame, memory);
        if (sounding)
        {
            const std::int64_t heard = sound.HeardSample();
            if (heard >= 0 && SimSoundInBeep(static_cast<std::uint64_t>(heard)))
                PaintBeep(memory, frame, options.width);
        }
        window.Show(memory.Shown(), scene.Palette(frame));
        if (!window.Pump())
            break;
        if (frame + 1 == wrapperFrame)
        {
            std::this_thread::sleep_until(
                appeared + std::chrono::microseconds(std::llround(options.wrapperAfter * 1e6)));
            picture.resize(static_cast<std::size_t>(options.width) *
                           static_cast<std::size_t>(options.height));
            scene.WrapperPicture(frame, picture.data());
            if (!memory.AddWrapper(options.wrapperName, picture.data(), error))
            {
                std::fprintf(stderr, "gamesim: %s\n", error.c_str());
                return 1;
            }
            std::printf("gamesim: %s loaded\n", options.wrapperName.c_str());
            std::fflush(stdout);
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    return 0;
}
