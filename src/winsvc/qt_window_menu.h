#pragma once
// Ties a Qt top-level window to the window-menu service.
//
// On Windows the handle is the window's HWND and user32 does the work.  On
// other platforms the window is registered with the WindowMenuModel, and the
// model's WS_MAXIMIZEBOX bit is mirrored onto Qt::WindowMaximizeButtonHint,
// which X11 window managers honour through the Motif hints.  Removing Move
// from the model's menu has no effect there: neither X11 nor Wayland lets a
// program edit the window manager's menu or forbid moving a window, and Qt
// offers no hint for it, so the window stays movable.
#include "winsvc/window_menu.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace winsvc {

class WindowMenuModel;

// Registers `window` with `model` for as long as both live; a child of the
// window, so it goes with it.  The model must outlive the binding.
class QtWindowMenuBinding final : public QObject {
    Q_OBJECT
public:
    QtWindowMenuBinding(WindowMenuModel &model, QWidget *window);
    ~QtWindowMenuBinding() override;

    WindowHandle handle() const { return handle_; }

private:
    void applyStyle(uint32_t style);

    WindowMenuModel &model_;
    QPointer<QWidget> window_;
    WindowHandle handle_ = 0;
};

// The handle that EnableMaxButton / FormDisableMove take for this top-level
// window on this platform (registers it with the model on first use).
WindowHandle windowMenuHandle(QWidget *window);

} // namespace winsvc
