#include "cli/terminal.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace cli {
namespace {

BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        noteInterrupt();
        return TRUE;
    }
    return FALSE;
}

} // namespace

void installInterruptHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void waitForInterrupt()
{
    while (!interruptRequested())
        Sleep(50);
}

bool stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

} // namespace cli
