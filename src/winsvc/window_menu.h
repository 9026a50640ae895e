#pragma once
// The window-menu service: the few user32 calls that change a window's
// system menu and caption buttons.  window_menu_win32.cpp makes the real
// calls; on other platforms window_menu_posix.cpp hands out a
// WindowMenuModel, because no other window system has a per-window menu
// that a program can edit.  No OS headers here.
#include <cstdint>

namespace winsvc {

using WindowHandle = std::uintptr_t; // HWND on Windows, a model id elsewhere
using MenuHandle = std::uintptr_t;   // HMENU on Windows, a model id elsewhere

constexpr int32_t kGwlStyle = -16;
constexpr uint32_t kWsMaximizeBox = 0x00010000;
constexpr uint32_t kWsMinimizeBox = 0x00020000;
constexpr uint32_t kWsThickFrame = 0x00040000;
constexpr uint32_t kWsSysMenu = 0x00080000;
constexpr uint32_t kWsCaption = 0x00C00000;

constexpr uint32_t kScSize = 0xF000;
constexpr uint32_t kScMove = 0xF010;
constexpr uint32_t kScMinimize = 0xF020;
constexpr uint32_t kScMaximize = 0xF030;
constexpr uint32_t kScCloseItem = 0xF060;
constexpr uint32_t kScRestore = 0xF120;

constexpr uint32_t kMfsGrayed = 0x3; // both bits: greyed and disabled

constexpr uint32_t kWmNcActivate = 0x0086;
constexpr WindowHandle kHwndNotTopmost = static_cast<WindowHandle>(-2);
constexpr uint32_t kSwpNoSize = 0x01;
constexpr uint32_t kSwpNoMove = 0x02;
constexpr uint32_t kSwpNoZOrder = 0x04;
constexpr uint32_t kSwpFrameChanged = 0x20;

// Each member is one user32 call with its usual result (0 / false / null for
// failure); callers decide which results matter.
class WindowMenuPlatform {
public:
    virtual ~WindowMenuPlatform() = default;

    virtual bool isWindow(WindowHandle window) = 0;
    // revert=false: the window's own modifiable copy (created on first use).
    // revert=true: discards that copy and returns 0, like GetSystemMenu.
    virtual MenuHandle getSystemMenu(WindowHandle window, bool revert) = 0;
    // MENUITEMINFO with MIIM_STATE, looked up by command identifier.
    virtual bool getMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t &state) = 0;
    // MENUITEMINFO with MIIM_ID: gives the item `commandId` the id `newId`.
    virtual bool setMenuItemId(MenuHandle menu, uint32_t commandId, uint32_t newId) = 0;
    // MENUITEMINFO with MIIM_STATE.
    virtual bool setMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t state) = 0;
    // DeleteMenu(..., MF_BYCOMMAND).
    virtual bool deleteMenuItem(MenuHandle menu, uint32_t commandId) = 0;
    // SendMessage(WM_NCACTIVATE, active ? TRUE : FALSE, 0): redraws the caption.
    virtual intptr_t sendNcActivate(WindowHandle window, bool active) = 0;
    // GetWindowLong / SetWindowLong with GWL_STYLE; set returns the old style.
    virtual uint32_t getWindowStyle(WindowHandle window) = 0;
    virtual uint32_t setWindowStyle(WindowHandle window, uint32_t style) = 0;
    virtual WindowHandle getParent(WindowHandle window) = 0;
    // Returns the previous parent, 0 on failure.
    virtual WindowHandle setParent(WindowHandle window, WindowHandle parent) = 0;
    virtual bool setWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y,
                              int cx, int cy, uint32_t flags) = 0;
};

// The window-menu service of this platform (process-wide).
WindowMenuPlatform &systemWindowMenu();

} // namespace winsvc
