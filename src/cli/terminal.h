#pragma once
// The terminal services the command line needs, one file per platform.
// Ctrl+C only raises a flag that the running command polls, so an echo test
// winds up through its abort path and closes the port.
namespace cli {

void installInterruptHandler();
bool interruptRequested();
void clearInterrupt();
// Waits until an interrupt (or termination request) arrives.
void waitForInterrupt();

// Raises the interrupt flag; the platform's handler calls it (it is
// async-signal-safe: one lock-free atomic store).
void noteInterrupt();

// Whether standard error is a terminal (live progress goes there).
bool stderrIsTerminal();

} // namespace cli
