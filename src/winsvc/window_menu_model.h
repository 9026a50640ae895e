#pragma once
// A model of the Windows system menu and window style for platforms that
// have neither.  It keeps, per registered window, the style bits, the parent
// and the system menu the way user32 does: a shared standard menu plus, once
// asked for, a modifiable copy that "revert" throws away.  Tests use it to
// make any single call fail and to see what changed; the Qt adapter listens
// to style changes to show or hide the maximise button.
#include "winsvc/window_menu.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace winsvc {

struct MenuItem {
    uint32_t id = 0;     // command identifier; 0 for the separator
    uint32_t state = 0;  // MFS_* bits
    bool separator = false;
    std::string text;
};

class WindowMenuModel final : public WindowMenuPlatform {
public:
    enum class Call {
        IsWindow, GetSystemMenu, GetMenuItemState, SetMenuItemId, SetMenuItemState,
        DeleteMenuItem, SendNcActivate, GetWindowStyle, SetWindowStyle, GetParent,
        SetParent, SetWindowPos,
    };
    using StyleListener = std::function<void(uint32_t newStyle)>;

    // An overlapped window with caption, system menu, minimise and maximise.
    static constexpr uint32_t kDefaultStyle = kWsCaption | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox;

    // The items of the system's standard window menu, top to bottom.
    static std::vector<MenuItem> standardMenu();

    // Adds a window and returns its handle (never 0).
    WindowHandle registerWindow(uint32_t style = kDefaultStyle);
    void unregisterWindow(WindowHandle window);

    // Called after every effective style change of that window.
    void setStyleListener(WindowHandle window, StyleListener listener);

    // From now on the given call fails (returns its failure value, changes nothing).
    void failCall(Call call, bool fail = true);

    // Inspection: the menu the user would see (the copy if one exists).
    std::vector<MenuItem> visibleMenu(WindowHandle window) const;
    bool hasMenuCopy(WindowHandle window) const;
    uint32_t style(WindowHandle window) const;
    const std::vector<Call> &calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    int lastSetWindowPosFlags() const { return lastSwpFlags_; }
    WindowHandle lastSetWindowPosInsertAfter() const { return lastSwpInsertAfter_; }

    // WindowMenuPlatform
    bool isWindow(WindowHandle window) override;
    MenuHandle getSystemMenu(WindowHandle window, bool revert) override;
    bool getMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t &state) override;
    bool setMenuItemId(MenuHandle menu, uint32_t commandId, uint32_t newId) override;
    bool setMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t state) override;
    bool deleteMenuItem(MenuHandle menu, uint32_t commandId) override;
    intptr_t sendNcActivate(WindowHandle window, bool active) override;
    uint32_t getWindowStyle(WindowHandle window) override;
    uint32_t setWindowStyle(WindowHandle window, uint32_t style) override;
    WindowHandle getParent(WindowHandle window) override;
    WindowHandle setParent(WindowHandle window, WindowHandle parent) override;
    bool setWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                      uint32_t flags) override;

private:
    struct Window {
        uint32_t style = 0;
        WindowHandle parent = 0;
        MenuHandle menuCopy = 0; // 0: the window shows the standard menu
        StyleListener listener;
    };

    bool enter(Call call); // logs the call, false when it is made to fail
    Window *find(WindowHandle window);
    const Window *find(WindowHandle window) const;
    MenuItem *findItem(MenuHandle menu, uint32_t commandId);

    std::map<WindowHandle, Window> windows_;
    std::map<MenuHandle, std::vector<MenuItem>> menus_;
    std::set<Call> failing_;
    std::vector<Call> calls_;
    // Handles start away from 0 and from each other so a mix-up shows.
    WindowHandle nextWindow_ = 0x100;
    MenuHandle nextMenu_ = 0x9000;
    int lastSwpFlags_ = -1;
    WindowHandle lastSwpInsertAfter_ = 0;
};

// The process-wide model; it is systemWindowMenu() on non-Windows platforms.
WindowMenuModel &windowMenuModel();

} // namespace winsvc
