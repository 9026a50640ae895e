// Non-Windows: the window is known to the window-menu model by an id that a
// binding, living as a child of the window, hands out.
#include "winsvc/qt_window_menu.h"

#include "winsvc/window_menu_model.h"

#include <QWidget>

namespace winsvc {

WindowHandle windowMenuHandle(QWidget *window)
{
    if (window == nullptr)
        return 0;
    window = window->window();
    if (auto *binding = window->findChild<QtWindowMenuBinding *>(QString(), Qt::FindDirectChildrenOnly))
        return binding->handle();
    return (new QtWindowMenuBinding(windowMenuModel(), window))->handle();
}

} // namespace winsvc
