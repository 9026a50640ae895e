#pragma once
// Decisions of the message hooks on the main window (formhook) and on its
// three text boxes (modMsgContextCatcher_t1), kept free of any window system
// so that both the Win32 native filter and the Qt event filters share them.
#include <cstdint>

namespace winsvc {

// Window messages and system commands the hooks look at.
constexpr uint32_t kWmContextMenu = 0x007B;
constexpr uint32_t kWmSysCommand = 0x0112;
// Sent by the shell to open the window menu from the taskbar button.
constexpr uint32_t kWmPopupSystemMenu = 0x0313;

constexpr uint64_t kScClose = 0xF060;
constexpr uint64_t kScKeyMenu = 0xF100;     // Alt+Space, F10
constexpr uint64_t kScMouseMenu = 0xF090;
constexpr uint64_t kHtSysMenu = 3;          // hit on the window icon
constexpr uint64_t kScIconClick = kScMouseMenu + kHtSysMenu;      // 0xF093
constexpr uint64_t kScIconDoubleClick = kScClose + kHtSysMenu;    // 0xF063

enum class HookAction {
    PassOn,               // hand the message to the previous procedure
    Swallow,              // answer 0 and drop it
    SwallowAndShowNotice, // drop it and show Text3 for Timer3's interval
};

// Main window: no context menu ever; while a test runs no window menu from
// the icon, the keyboard or the taskbar, and no close by double-clicking the
// icon.  The close button, Alt+F4 and the menu's Close item (SC_CLOSE without
// the icon hit code) still pass, so a close request always reaches the
// window's close handling.  System commands are compared exactly, low four
// bits included.
HookAction MainWindowProc(uint32_t message, uint64_t wParam, bool testRunning);

// Text1, Text2, Text3: no edit context menu; everything else passes.
HookAction Text1Proc(uint32_t message);
HookAction Text2Proc(uint32_t message);
HookAction Text3Proc(uint32_t message);

} // namespace winsvc
