// X11 and Wayland window managers open the window menu without the program
// knowing, so there is no native message to filter here.
#include "winsvc/qt_hooks_native.h"

#include <QAbstractNativeEventFilter>

namespace winsvc::detail {

std::unique_ptr<QAbstractNativeEventFilter> makeNativeMenuFilter(QWidget *, std::function<bool()>,
                                                                 std::function<void()>)
{
    return nullptr;
}

} // namespace winsvc::detail
