// Windows: the window-menu service works on the real HWND.  winId() creates
// the native window if it does not exist yet, which EnableMaxButton needs.
#include "winsvc/qt_window_menu.h"

#include <QWidget>

namespace winsvc {

WindowHandle windowMenuHandle(QWidget *window)
{
    if (window == nullptr)
        return 0;
    return static_cast<WindowHandle>(window->window()->winId());
}

} // namespace winsvc
