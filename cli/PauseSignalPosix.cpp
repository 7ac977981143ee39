#include "cli/Commands.h"

#include <csignal>

void InstallPauseSignal(void (*handler)(int))
{
    std::signal(SIGUSR1, handler);
}
