// The window-menu service on Windows: thin wrappers over user32.  The ANSI
// and wide forms behave alike here since the item text is never touched.
#include "winsvc/window_menu.h"

#include <windows.h>

namespace winsvc {

namespace {
HWND toHwnd(WindowHandle h) { return reinterpret_cast<HWND>(h); }
HMENU toHmenu(MenuHandle m) { return reinterpret_cast<HMENU>(m); }

MENUITEMINFOA emptyItemInfo(UINT mask)
{
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = mask;
    return info;
}

class Win32WindowMenu final : public WindowMenuPlatform {
public:
    bool isWindow(WindowHandle window) override { return IsWindow(toHwnd(window)) != FALSE; }

    MenuHandle getSystemMenu(WindowHandle window, bool revert) override
    {
        return reinterpret_cast<MenuHandle>(GetSystemMenu(toHwnd(window), revert ? TRUE : FALSE));
    }

    bool getMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t &state) override
    {
        MENUITEMINFOA info = emptyItemInfo(MIIM_STATE);
        if (!GetMenuItemInfoA(toHmenu(menu), commandId, FALSE, &info))
            return false;
        state = info.fState;
        return true;
    }

    bool setMenuItemId(MenuHandle menu, uint32_t commandId, uint32_t newId) override
    {
        MENUITEMINFOA info = emptyItemInfo(MIIM_ID);
        info.wID = newId;
        return SetMenuItemInfoA(toHmenu(menu), commandId, FALSE, &info) != FALSE;
    }

    bool setMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t state) override
    {
        MENUITEMINFOA info = emptyItemInfo(MIIM_STATE);
        info.fState = state;
        return SetMenuItemInfoA(toHmenu(menu), commandId, FALSE, &info) != FALSE;
    }

    bool deleteMenuItem(MenuHandle menu, uint32_t commandId) override
    {
        return DeleteMenu(toHmenu(menu), commandId, MF_BYCOMMAND) != FALSE;
    }

    intptr_t sendNcActivate(WindowHandle window, bool active) override
    {
        return static_cast<intptr_t>(SendMessageA(toHwnd(window), WM_NCACTIVATE, active ? TRUE : FALSE, 0));
    }

    uint32_t getWindowStyle(WindowHandle window) override
    {
        return static_cast<uint32_t>(GetWindowLongA(toHwnd(window), GWL_STYLE));
    }

    uint32_t setWindowStyle(WindowHandle window, uint32_t style) override
    {
        return static_cast<uint32_t>(SetWindowLongA(toHwnd(window), GWL_STYLE, static_cast<LONG>(style)));
    }

    WindowHandle getParent(WindowHandle window) override
    {
        return reinterpret_cast<WindowHandle>(GetParent(toHwnd(window)));
    }

    WindowHandle setParent(WindowHandle window, WindowHandle parent) override
    {
        return reinterpret_cast<WindowHandle>(SetParent(toHwnd(window), toHwnd(parent)));
    }

    bool setWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                      uint32_t flags) override
    {
        return SetWindowPos(toHwnd(window), toHwnd(insertAfter), x, y, cx, cy, flags) != FALSE;
    }
};
} // namespace

WindowMenuPlatform &systemWindowMenu()
{
    static Win32WindowMenu instance;
    return instance;
}

} // namespace winsvc
