#include "winsvc/modCloseBtn.h"

namespace winsvc {

CloseBtnError::CloseBtnError(std::string src, std::string desc)
    : std::runtime_error(desc), source(std::move(src)), description(std::move(desc))
{
}

namespace {
[[noreturn]] void raise(const std::string &name, const char *suffix)
{
    const std::string source = "modCloseBtn::" + name;
    throw CloseBtnError(source, source + "() - " + suffix);
}
} // namespace

namespace detail {

void ToggleSystemMenuItem(WindowMenuPlatform &platform, WindowHandle window, uint32_t standardId,
                          uint32_t privateId, bool enable, const std::string &name)
{
    if (!platform.isWindow(window))
        raise(name, "Invalid Window Handle");

    const MenuHandle menu = platform.getSystemMenu(window, false);

    const uint32_t currentId = enable ? privateId : standardId;
    uint32_t state = 0;
    if (!platform.getMenuItemState(menu, currentId, state))
        raise(name, "Menu Item Not Found");

    const uint32_t newId = enable ? standardId : privateId;
    if (!platform.setMenuItemId(menu, currentId, newId))
        raise(name, "Error encountered changing ID");

    state = enable ? (state & ~kMfsGrayed) : (state | kMfsGrayed);
    if (!platform.setMenuItemState(menu, newId, state))
        raise(name, "Error encountered changing state");

    platform.sendNcActivate(window, true);
}

} // namespace detail

void EnableMaxButton(WindowMenuPlatform &platform, WindowHandle window, bool enable)
{
    detail::ToggleSystemMenuItem(platform, window, kScMaximize, kPrivateMaximizeId, enable,
                                 "EnableMaxButton");

    uint32_t style = platform.getWindowStyle(window);
    style = enable ? (style | kWsMaximizeBox) : (style & ~kWsMaximizeBox);
    platform.setWindowStyle(window, style);

    // Re-setting the same parent and a frame-changed SetWindowPos make the
    // system recalculate the frame with the new style; nothing moves.
    platform.setParent(window, platform.getParent(window));
    platform.setWindowPos(window, kHwndNotTopmost, 0, 0, 0, 0,
                          kSwpNoSize | kSwpNoMove | kSwpNoZOrder | kSwpFrameChanged);
}

void EnableMaxButton(WindowHandle window, bool enable)
{
    EnableMaxButton(systemWindowMenu(), window, enable);
}

bool FormDisableMove(WindowMenuPlatform &platform, WindowHandle window, bool restore)
{
    try {
        if (restore) {
            // Reverting returns no menu by design, so there is nothing to check.
            platform.getSystemMenu(window, true);
            return true;
        }
        const MenuHandle menu = platform.getSystemMenu(window, false);
        // A menu that cannot be had or a Move that cannot be removed means the
        // user can still move the window: report it rather than claim success.
        if (menu == 0)
            return false;
        if (platform.deleteMenuItem(menu, kScMove))
            return true;
        // Already gone (a second call during the same run) is still done.
        uint32_t state = 0;
        return !platform.getMenuItemState(menu, kScMove, state);
    } catch (...) {
        return false;
    }
}

bool FormDisableMove(WindowHandle window, bool restore)
{
    return FormDisableMove(systemWindowMenu(), window, restore);
}

} // namespace winsvc
