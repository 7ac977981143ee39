// Windows has no user signal to pause a recording with.

#include "cli/Commands.h"

void InstallPauseSignal(void (*)(int)) {}
