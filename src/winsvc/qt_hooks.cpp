#include "winsvc/qt_hooks.h"

#include "winsvc/formhook.h"
#include "winsvc/qt_hooks_native.h"

#include <QAbstractNativeEventFilter>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>

namespace winsvc {

namespace {

using TextProc = HookAction (*)(uint32_t message);

// Swallows context-menu events on the widgets it is installed on.
class ContextMenuBlocker final : public QObject {
public:
    explicit ContextMenuBlocker(TextProc proc) : proc_(proc) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ContextMenu && proc_(kWmContextMenu) != HookAction::PassOn) {
            // Accepted and handled: Qt then neither opens the widget's menu
            // nor hands the event on to the parent.
            event->accept();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TextProc proc_;
};

struct TextHook {
    QPointer<QWidget> widget;
    QPointer<QWidget> viewport;
    std::unique_ptr<ContextMenuBlocker> blocker;
};

std::array<TextHook, 3> &textHooks()
{
    static std::array<TextHook, 3> hooks;
    return hooks;
}

void unhookText(TextHook &hook)
{
    if (hook.blocker) {
        if (hook.widget)
            hook.widget->removeEventFilter(hook.blocker.get());
        if (hook.viewport)
            hook.viewport->removeEventFilter(hook.blocker.get());
    }
    hook.blocker.reset();
    hook.widget.clear();
    hook.viewport.clear();
}

bool hookText(TextHook &hook, QWidget *text, TextProc proc)
{
    if (text == nullptr)
        return false;
    if (hook.blocker && hook.widget)
        return false; // installed already
    unhookText(hook); // drops a hook whose widget has gone
    hook.blocker = std::make_unique<ContextMenuBlocker>(proc);
    hook.widget = text;
    text->installEventFilter(hook.blocker.get());
    if (auto *area = qobject_cast<QAbstractScrollArea *>(text)) {
        hook.viewport = area->viewport();
        hook.viewport->installEventFilter(hook.blocker.get());
    }
    return true;
}

bool isAltSpace(const QKeyEvent &key)
{
    return key.key() == Qt::Key_Space
        && (key.modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
}

// Application-wide, because a key press goes to the focused child, not to
// the window; it acts only on widgets of the hooked window.
class MainWindowFilter final : public QObject {
public:
    MainWindowFilter(QWidget *window, std::function<bool()> testRunning, std::function<void()> showNotice)
        : window_(window), testRunning_(std::move(testRunning)), showNotice_(std::move(showNotice))
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (window_.isNull() || !watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);

        switch (event->type()) {
        case QEvent::ContextMenu:
            // Children that ignore their menu event pass it up to the window;
            // like WM_CONTEXTMENU reaching the window procedure, it ends here.
            if (widget == window_ && MainWindowProc(kWmContextMenu, 0, false) != HookAction::PassOn) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::KeyPress:
            if (widget->window() == window_ && isAltSpace(*static_cast<QKeyEvent *>(event)))
                return act(MainWindowProc(kWmSysCommand, kScKeyMenu, running()), event);
            return false;
        default:
            return false;
        }
    }

private:
    bool running() const { return testRunning_ && testRunning_(); }

    bool act(HookAction action, QEvent *event)
    {
        if (action == HookAction::PassOn)
            return false;
        if (action == HookAction::SwallowAndShowNotice && showNotice_)
            showNotice_();
        event->accept();
        return true;
    }

    QPointer<QWidget> window_;
    std::function<bool()> testRunning_;
    std::function<void()> showNotice_;
};

struct MainHook {
    QPointer<QWidget> window;
    std::unique_ptr<MainWindowFilter> filter;
    std::unique_ptr<QAbstractNativeEventFilter> nativeFilter;
};

MainHook &mainHook()
{
    static MainHook hook;
    return hook;
}

} // namespace

bool HookText1(QWidget *text) { return hookText(textHooks()[0], text, &Text1Proc); }
bool HookText2(QWidget *text) { return hookText(textHooks()[1], text, &Text2Proc); }
bool HookText3(QWidget *text) { return hookText(textHooks()[2], text, &Text3Proc); }
void UnhookText1() { unhookText(textHooks()[0]); }
void UnhookText2() { unhookText(textHooks()[1]); }
void UnhookText3() { unhookText(textHooks()[2]); }

bool HookMainWindow(QWidget *window, std::function<bool()> testRunning, std::function<void()> showNotice)
{
    QCoreApplication *app = QCoreApplication::instance();
    MainHook &hook = mainHook();
    if (window == nullptr || app == nullptr)
        return false;
    if (hook.filter && hook.window)
        return false; // installed already
    UnhookMainWindow();

    hook.window = window;
    hook.filter = std::make_unique<MainWindowFilter>(window, testRunning, showNotice);
    app->installEventFilter(hook.filter.get());
    hook.nativeFilter = detail::makeNativeMenuFilter(window, std::move(testRunning), std::move(showNotice));
    if (hook.nativeFilter)
        app->installNativeEventFilter(hook.nativeFilter.get());
    return true;
}

void UnhookMainWindow()
{
    MainHook &hook = mainHook();
    if (QCoreApplication *app = QCoreApplication::instance()) {
        if (hook.filter)
            app->removeEventFilter(hook.filter.get());
        if (hook.nativeFilter)
            app->removeNativeEventFilter(hook.nativeFilter.get());
    }
    hook.filter.reset();
    hook.nativeFilter.reset();
    hook.window.clear();
}

} // namespace winsvc
