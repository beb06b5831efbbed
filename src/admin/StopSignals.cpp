#include "admin/StopSignals.h"

#include <csignal>

namespace {

std::atomic<bool> asked{false};

extern "C" void askStop(int signal)
{
    if (asked.exchange(true)) {
        // Asked twice: the operator means it.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

} // namespace

std::atomic<bool> &stopAsked() { return asked; }

void catchStopSignals()
{
    std::signal(SIGINT, askStop);
    std::signal(SIGTERM, askStop);
}
