// The test backend's program folder: the one a test set.

#include "desktop/fake/FakeDesktop.h"

#include "desktop/ProgramFolder.h"

CFakeDesktop& CFakeDesktop::Get()
{
    static CFakeDesktop desktop;
    return desktop;
}

std::string PlatformProgramDirectory()
{
    return CFakeDesktop::Get().ProgramDirectory();
}
