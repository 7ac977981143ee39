// trellon: works on ".dk2" videos without a window.

#include "cli/Commands.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: trellon COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  info FILE                      picture size, counts, flags and statistics\n"
    "  verify FILE                    check every index and size, warn about bad time\n"
    "                                 stamps; exit 1 when anything was found\n"
    "  extract IN OUT FIRST LAST [--force]\n"
    "                                 copy frames FIRST..LAST (1-based) into a new video;\n"
    "                                 --force replaces an existing OUT (never IN)\n"
    "  export IN DIR [--first N] [--last M] [--cursor] [--force]\n"
    "                                 write frames as 8-bit palette PNGs DIR/000001.png ...;\n"
    "                                 --force replaces the frame files of an earlier export\n"
    "  export IN OUT.mp4|.webm|.mkv|.gif [--first N] [--last M] [--scale N] [--fps N]\n"
    "         [--crf Q] [--cursor] [--no-sound] [--force]\n"
    "                                 a video file: H.264, VP9, lossless FFV1 or GIF, timed\n"
    "                                 by the recording (or at --fps), --scale N times larger,\n"
    "                                 with the recorded sound (AAC, Opus, FLAC; GIF: none)\n"
    "                                 unless --no-sound\n"
    "  export IN OUT.flac|.wav [--first N] [--last M] [--force]\n"
    "                                 the recorded sound alone over the frames' span\n"
    "  probe                          look for the running game and say what was found\n"
    "  record OUT [--fps N] [--seconds S | --frames N] [--wait S] [--stats] [--plus]\n"
    "         [--no-sound]\n"
    "                                 record the running game (30 fps by default) until S\n"
    "                                 seconds or N recorded frames, or Ctrl-C; then save OUT;\n"
    "                                 --wait gives up (exit 1, no file) when no frame came\n"
    "                                 in S seconds; --stats draws the player panel, --plus\n"
    "                                 the unit markers too; the game's own sound is recorded\n"
    "                                 unless --no-sound; every frame is journalled;\n"
    "                                 SIGUSR1 pauses and resumes (Linux: kill -USR1 PID);\n"
    "                                 a new game picture size goes on in OUT-2, OUT-3 ...\n"
    "  recover [JOURNAL OUT.dk2]      list the journals of recordings never saved (after a\n"
    "                                 crash or kill), or turn JOURNAL into OUT.dk2\n"
    "\n"
    "Options:\n"
    "  -h, --help                     show this text\n"
    "  --version                      show the version\n";

struct Command
{
    const char* name;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"info", RunInfo},   {"verify", RunVerify}, {"extract", RunExtract}, {"export", RunExport},
    {"probe", RunProbe}, {"record", RunRecord}, {"recover", RunRecover},
};
} // namespace

int Fail(const std::string& message)
{
    std::fprintf(stderr, "trellon: %s\n", message.c_str());
    return 1;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "trellon: %s\nTry 'trellon --help'.\n", message.c_str());
    return 2;
}

int main(int argc, char** argv)
{
    // The progress lines as they come, also into a pipe: Windows' C library
    // buffers stderr there.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
    {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help")
    {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "--version")
    {
        std::printf("trellon %s\n", TRELLON_VERSION);
        return 0;
    }
    for (const Command& command : kCommands)
        if (args[0] == command.name)
        {
            args.erase(args.begin());
            for (const std::string& arg : args)
                if (arg == "-h" || arg == "--help")
                {
                    std::fputs(kUsage, stdout);
                    return 0;
                }
            try
            {
                return command.run(args);
            }
            catch (const std::bad_alloc&)
            {
                return Fail("out of memory");
            }
        }
    return UsageError("unknown command '" + args[0] + "'");
}
