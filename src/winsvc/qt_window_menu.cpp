#include "winsvc/qt_window_menu.h"

#include "winsvc/window_menu_model.h"

#include <QWidget>

namespace winsvc {

namespace {
// Qt shows only the buttons named once CustomizeWindowHint is set; these are
// the ones a normal window has, so switching to custom hints changes nothing
// but the maximise button.
constexpr Qt::WindowFlags kCustomizedDefaults = Qt::CustomizeWindowHint | Qt::WindowTitleHint
    | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

uint32_t styleOf(const QWidget &window)
{
    uint32_t style = WindowMenuModel::kDefaultStyle;
    const Qt::WindowFlags flags = window.windowFlags();
    if (flags.testFlag(Qt::CustomizeWindowHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint))
        style &= ~kWsMaximizeBox;
    return style;
}
} // namespace

QtWindowMenuBinding::QtWindowMenuBinding(WindowMenuModel &model, QWidget *window)
    : QObject(window), model_(model), window_(window)
{
    handle_ = model_.registerWindow(window != nullptr ? styleOf(*window) : WindowMenuModel::kDefaultStyle);
    model_.setStyleListener(handle_, [this](uint32_t style) { applyStyle(style); });
}

QtWindowMenuBinding::~QtWindowMenuBinding()
{
    model_.unregisterWindow(handle_);
}

void QtWindowMenuBinding::applyStyle(uint32_t style)
{
    if (window_.isNull())
        return;
    Qt::WindowFlags flags = window_->windowFlags();
    if (!flags.testFlag(Qt::CustomizeWindowHint))
        flags |= kCustomizedDefaults | Qt::WindowMaximizeButtonHint;
    flags.setFlag(Qt::WindowMaximizeButtonHint, (style & kWsMaximizeBox) != 0);
    if (flags == window_->windowFlags())
        return;
    // Changing the flags of a shown window hides it; show it again.
    const bool wasVisible = window_->isVisible();
    window_->setWindowFlags(flags);
    if (wasVisible)
        window_->show();
}

} // namespace winsvc
