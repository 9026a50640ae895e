#include "winsvc/formhook.h"

namespace winsvc {

namespace {
HookAction textBoxDecision(uint32_t message)
{
    return message == kWmContextMenu ? HookAction::Swallow : HookAction::PassOn;
}
} // namespace

// The procedure never unhooks itself (not even on the null message): the
// main window's unloading restores the previous procedure, and a hook that
// could vanish half-way through a test run would let the menu back in.
HookAction MainWindowProc(uint32_t message, uint64_t wParam, bool testRunning)
{
    switch (message) {
    case kWmContextMenu:
        return HookAction::Swallow;
    case kWmSysCommand:
        if (!testRunning)
            return HookAction::PassOn;
        if (wParam == kScIconClick || wParam == kScKeyMenu || wParam == kScIconDoubleClick)
            return HookAction::SwallowAndShowNotice;
        return HookAction::PassOn;
    case kWmPopupSystemMenu:
        return testRunning ? HookAction::Swallow : HookAction::PassOn;
    default:
        return HookAction::PassOn;
    }
}

HookAction Text1Proc(uint32_t message) { return textBoxDecision(message); }
HookAction Text2Proc(uint32_t message) { return textBoxDecision(message); }
HookAction Text3Proc(uint32_t message) { return textBoxDecision(message); }

} // namespace winsvc
