// The interrupt flag shared by every platform's handler.
#include "cli/terminal.h"

#include <atomic>

namespace cli {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

} // namespace

void noteInterrupt()
{
    interrupted.store(true);
}

bool interruptRequested()
{
    return interrupted.load();
}

void clearInterrupt()
{
    interrupted.store(false);
}

} // namespace cli
