#pragma once

#include <string>

// The folder holding the running program, where its data files lie beside
// it; empty when the platform can't tell. Each backend (desktop/linux,
// desktop/win32, desktop/fake) implements it.
std::string PlatformProgramDirectory();
