#pragma once
// Per-platform native filter for the main-window hook: on Windows it sees
// the window-menu messages before Qt does; elsewhere there is nothing native
// to see and no filter is made.
#include <functional>
#include <memory>

class QAbstractNativeEventFilter;
class QWidget;

namespace winsvc::detail {

std::unique_ptr<QAbstractNativeEventFilter>
makeNativeMenuFilter(QWidget *window, std::function<bool()> testRunning,
                     std::function<void()> showNotice);

} // namespace winsvc::detail
