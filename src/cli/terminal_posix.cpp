#include "cli/terminal.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace cli {
namespace {

void onSignal(int)
{
    noteInterrupt();
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

void waitForInterrupt()
{
    // A short sleep rather than pause(): a signal arriving between the test
    // and pause() would otherwise be waited out until the next one.
    const timespec tick{0, 50 * 1000 * 1000};
    while (!interruptRequested())
        nanosleep(&tick, nullptr);
}

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

} // namespace cli
