#include "winsvc/window_menu_model.h"

#include <algorithm>

namespace winsvc {

std::vector<MenuItem> WindowMenuModel::standardMenu()
{
    // A normal (not maximised) window: Restore is greyed, the rest enabled.
    return {
        {kScRestore, kMfsGrayed, false, "&Restore"},
        {kScMove, 0, false, "&Move"},
        {kScSize, 0, false, "&Size"},
        {kScMinimize, 0, false, "Mi&nimize"},
        {kScMaximize, 0, false, "Ma&ximize"},
        {0, 0, true, ""},
        {kScCloseItem, 0, false, "&Close\tAlt+F4"},
    };
}

WindowHandle WindowMenuModel::registerWindow(uint32_t style)
{
    const WindowHandle handle = nextWindow_;
    nextWindow_ += 0x10;
    windows_[handle].style = style;
    return handle;
}

void WindowMenuModel::unregisterWindow(WindowHandle window)
{
    auto it = windows_.find(window);
    if (it == windows_.end())
        return;
    if (it->second.menuCopy != 0)
        menus_.erase(it->second.menuCopy);
    windows_.erase(it);
}

void WindowMenuModel::setStyleListener(WindowHandle window, StyleListener listener)
{
    if (Window *w = find(window))
        w->listener = std::move(listener);
}

void WindowMenuModel::failCall(Call call, bool fail)
{
    if (fail)
        failing_.insert(call);
    else
        failing_.erase(call);
}

std::vector<MenuItem> WindowMenuModel::visibleMenu(WindowHandle window) const
{
    const Window *w = find(window);
    if (w == nullptr)
        return {};
    if (w->menuCopy == 0)
        return standardMenu();
    return menus_.at(w->menuCopy);
}

bool WindowMenuModel::hasMenuCopy(WindowHandle window) const
{
    const Window *w = find(window);
    return w != nullptr && w->menuCopy != 0;
}

uint32_t WindowMenuModel::style(WindowHandle window) const
{
    const Window *w = find(window);
    return w != nullptr ? w->style : 0;
}

bool WindowMenuModel::enter(Call call)
{
    calls_.push_back(call);
    return failing_.count(call) == 0;
}

WindowMenuModel::Window *WindowMenuModel::find(WindowHandle window)
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

const WindowMenuModel::Window *WindowMenuModel::find(WindowHandle window) const
{
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

MenuItem *WindowMenuModel::findItem(MenuHandle menu, uint32_t commandId)
{
    auto it = menus_.find(menu);
    if (it == menus_.end())
        return nullptr;
    // Like user32, a lookup by command takes the first match and never
    // matches a separator.
    auto item = std::find_if(it->second.begin(), it->second.end(), [commandId](const MenuItem &m) {
        return !m.separator && m.id == commandId;
    });
    return item == it->second.end() ? nullptr : &*item;
}

bool WindowMenuModel::isWindow(WindowHandle window)
{
    return enter(Call::IsWindow) && find(window) != nullptr;
}

MenuHandle WindowMenuModel::getSystemMenu(WindowHandle window, bool revert)
{
    if (!enter(Call::GetSystemMenu))
        return 0;
    Window *w = find(window);
    if (w == nullptr)
        return 0;
    if (revert) {
        if (w->menuCopy != 0) {
            menus_.erase(w->menuCopy);
            w->menuCopy = 0;
        }
        return 0;
    }
    if (w->menuCopy == 0) {
        w->menuCopy = nextMenu_;
        nextMenu_ += 0x10;
        menus_[w->menuCopy] = standardMenu();
    }
    return w->menuCopy;
}

bool WindowMenuModel::getMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t &state)
{
    if (!enter(Call::GetMenuItemState))
        return false;
    const MenuItem *item = findItem(menu, commandId);
    if (item == nullptr)
        return false;
    state = item->state;
    return true;
}

bool WindowMenuModel::setMenuItemId(MenuHandle menu, uint32_t commandId, uint32_t newId)
{
    if (!enter(Call::SetMenuItemId))
        return false;
    MenuItem *item = findItem(menu, commandId);
    if (item == nullptr)
        return false;
    item->id = newId;
    return true;
}

bool WindowMenuModel::setMenuItemState(MenuHandle menu, uint32_t commandId, uint32_t state)
{
    if (!enter(Call::SetMenuItemState))
        return false;
    MenuItem *item = findItem(menu, commandId);
    if (item == nullptr)
        return false;
    item->state = state;
    return true;
}

bool WindowMenuModel::deleteMenuItem(MenuHandle menu, uint32_t commandId)
{
    if (!enter(Call::DeleteMenuItem))
        return false;
    auto it = menus_.find(menu);
    if (it == menus_.end())
        return false;
    auto &items = it->second;
    auto item = std::find_if(items.begin(), items.end(), [commandId](const MenuItem &m) {
        return !m.separator && m.id == commandId;
    });
    if (item == items.end())
        return false;
    items.erase(item);
    return true;
}

intptr_t WindowMenuModel::sendNcActivate(WindowHandle window, bool /*active*/)
{
    if (!enter(Call::SendNcActivate) || find(window) == nullptr)
        return 0;
    return 1;
}

uint32_t WindowMenuModel::getWindowStyle(WindowHandle window)
{
    if (!enter(Call::GetWindowStyle))
        return 0;
    const Window *w = find(window);
    return w != nullptr ? w->style : 0;
}

uint32_t WindowMenuModel::setWindowStyle(WindowHandle window, uint32_t style)
{
    if (!enter(Call::SetWindowStyle))
        return 0;
    Window *w = find(window);
    if (w == nullptr)
        return 0;
    const uint32_t old = w->style;
    w->style = style;
    if (old != style && w->listener) {
        // Copy first: the listener may replace itself.
        StyleListener listener = w->listener;
        listener(style);
    }
    return old;
}

WindowHandle WindowMenuModel::getParent(WindowHandle window)
{
    if (!enter(Call::GetParent))
        return 0;
    const Window *w = find(window);
    return w != nullptr ? w->parent : 0;
}

WindowHandle WindowMenuModel::setParent(WindowHandle window, WindowHandle parent)
{
    if (!enter(Call::SetParent))
        return 0;
    Window *w = find(window);
    if (w == nullptr || (parent != 0 && find(parent) == nullptr))
        return 0;
    const WindowHandle old = w->parent;
    w->parent = parent;
    return old;
}

bool WindowMenuModel::setWindowPos(WindowHandle window, WindowHandle insertAfter, int, int, int, int,
                                   uint32_t flags)
{
    if (!enter(Call::SetWindowPos) || find(window) == nullptr)
        return false;
    lastSwpFlags_ = static_cast<int>(flags);
    lastSwpInsertAfter_ = insertAfter;
    return true;
}

WindowMenuModel &windowMenuModel()
{
    static WindowMenuModel model;
    return model;
}

} // namespace winsvc
