// Windows has no user signal to pause a recording with.

#include "Commands.h"

void InstallPauseSignal(void (*)(int)) {}
