#include "cli/terminal.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace cli {
namespace {

std::atomic<bool> interrupted{false};

void onSignal(int)
{
    interrupted.store(true);
}

} // namespace

void installInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking write or wait returns early so that the
    // abort is noticed at once even at 45 baud.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interruptRequested()
{
    return interrupted.load();
}

void clearInterrupt()
{
    interrupted.store(false);
}

void waitForInterrupt()
{
    while (!interrupted.load())
        pause();
}

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

} // namespace cli
