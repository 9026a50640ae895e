#include "cli/terminal.h"

#include <atomic>
#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace cli {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        interrupted.store(true);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void installInterruptHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
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
        Sleep(50);
}

bool stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

} // namespace cli
