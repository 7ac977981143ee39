#pragma once

#include "process/Platform.h"

#include <cstdint>

// Finding a module in the game and an export of it, from outside the game:
// the module's base from the platform's module list, then the PE headers and
// export tables read with remote reads. Every failure gives 0.

// The base of the module named exactly `name` (case-sensitive) in `pid`, or 0.
std::uint32_t GetRemoteModuleBase(const char* name, PlatformPid pid);

// GetRemoteModuleBase for the process that owns the game's window.
std::uint32_t GetGameModuleBase(const char* name);

// The game address of an export of the module at `base`, by name (the first
// export in the name table whose name contains `name`) or by ordinal;
// forwarded exports are followed into other modules of the game.
std::uint32_t GetRemoteProcAddress(PlatformProcess* process, std::uint32_t base, const char* name,
                                   std::uint32_t ordinal, bool byOrdinal);
