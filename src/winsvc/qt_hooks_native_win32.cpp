// Windows: the window menu is opened by WM_SYSCOMMAND (icon click, Alt+Space,
// F10, icon double-click) and by 0x313 from the taskbar, all sent to the
// top-level HWND.  WM_CONTEXTMENU is deliberately left to Qt: every Qt child
// widget shares that HWND, so dropping it natively would also take the menu
// away from controls that should keep it (the baud-rate combo box); the Qt
// filters decide per widget instead.
#include "winsvc/qt_hooks_native.h"

#include "winsvc/formhook.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <windows.h>

namespace winsvc::detail {

namespace {
class NativeMenuFilter final : public QAbstractNativeEventFilter {
public:
    NativeMenuFilter(QWidget *window, std::function<bool()> testRunning, std::function<void()> showNotice)
        : window_(window), testRunning_(std::move(testRunning)), showNotice_(std::move(showNotice))
    {
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override
    {
        if (eventType != "windows_generic_MSG" || window_.isNull())
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != WM_SYSCOMMAND && msg->message != kWmPopupSystemMenu)
            return false;
        // internalWinId() never creates a native window as a side effect.
        if (reinterpret_cast<WId>(msg->hwnd) != window_->internalWinId())
            return false;

        const bool running = testRunning_ && testRunning_();
        const HookAction action = MainWindowProc(msg->message, static_cast<uint64_t>(msg->wParam), running);
        if (action == HookAction::PassOn)
            return false;
        if (action == HookAction::SwallowAndShowNotice && showNotice_)
            showNotice_();
        if (result != nullptr)
            *result = 0;
        return true;
    }

private:
    QPointer<QWidget> window_;
    std::function<bool()> testRunning_;
    std::function<void()> showNotice_;
};
} // namespace

std::unique_ptr<QAbstractNativeEventFilter> makeNativeMenuFilter(QWidget *window,
                                                                 std::function<bool()> testRunning,
                                                                 std::function<void()> showNotice)
{
    return std::make_unique<NativeMenuFilter>(window, std::move(testRunning), std::move(showNotice));
}

} // namespace winsvc::detail
