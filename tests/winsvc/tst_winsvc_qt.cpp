#include "winsvc/modCloseBtn.h"
#include "winsvc/qt_hooks.h"
#include "winsvc/qt_window_menu.h"
#include "winsvc/window_menu_model.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace winsvc;

namespace {

// Counts key or close events and lets them through.
class Probe : public QObject {
public:
    explicit Probe(QEvent::Type type) : type_(type) {}
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == type_)
            ++count;
        return false;
    }

private:
    QEvent::Type type_;
};

// Counts the context-menu events that reach the widget's own handler, the
// place where Qt would open the menu, and opens none.
template <class Base>
class MenuCounting : public Base {
public:
    using Base::Base;
    int menus = 0;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        ++menus;
        event->accept();
    }
};

// A window shaped like the main window's relevant part.
struct Window {
    MenuCounting<QWidget> window;
    MenuCounting<QPlainTextEdit> *text1 = new MenuCounting<QPlainTextEdit>(&window);
    MenuCounting<QLineEdit> *text2 = new MenuCounting<QLineEdit>(&window);
    MenuCounting<QTextEdit> *text3 = new MenuCounting<QTextEdit>(&window);
    QComboBox *combo2 = new QComboBox(&window);
    MenuCounting<QLineEdit> *combo2Edit = new MenuCounting<QLineEdit>;
    bool running = false;
    int notices = 0;

    Window()
    {
        combo2->setEditable(true);
        combo2->setLineEdit(combo2Edit);
        auto *layout = new QVBoxLayout(&window);
        for (QWidget *w : {static_cast<QWidget *>(text1), static_cast<QWidget *>(text2),
                           static_cast<QWidget *>(text3), static_cast<QWidget *>(combo2)})
            layout->addWidget(w);
    }
    void hookAll()
    {
        QVERIFY(HookText1(text1));
        QVERIFY(HookText2(text2));
        QVERIFY(HookText3(text3));
        QVERIFY(HookMainWindow(&window, [this] { return running; }, [this] { ++notices; }));
    }
};

void unhookAll()
{
    UnhookText1();
    UnhookText2();
    UnhookText3();
    UnhookMainWindow();
}

// Sends a context-menu request to `target` and returns how many menus the
// handler `counter` saw because of it.
template <class Counter>
int sendContextMenu(QWidget *target, Counter *counter, QContextMenuEvent::Reason reason)
{
    const int before = counter->menus;
    QContextMenuEvent event(reason, QPoint(4, 4), target->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(target, &event);
    return counter->menus - before;
}

} // namespace

class WinsvcQtTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { unhookAll(); }

    void contextMenu_data();
    void contextMenu();
    void altSpace_data();
    void altSpace();
    void closeRequestPassesWhileRunning();
    void secondInstallIsRefused();
    void unhookGivesTheMenuBack();
    void hookOnDestroyedWidgetCountsAsRemoved();
    void maximizeHintFollowsEnableMaxButton();
    void initialStyleFollowsWindowHints();
    void bindingGoesWithTheWindow();
};

void WinsvcQtTest::contextMenu_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("delivered");

    const int mouse = QContextMenuEvent::Mouse;
    const int keyboard = QContextMenuEvent::Keyboard;
    // A scroll area gets the mouse's menu event on its viewport and the
    // keyboard's on itself.
    QTest::newRow("Text1 viewport, mouse") << "text1.viewport" << mouse << 0;
    QTest::newRow("Text1, keyboard") << "text1" << keyboard << 0;
    QTest::newRow("Text2, mouse") << "text2" << mouse << 0;
    QTest::newRow("Text2, keyboard") << "text2" << keyboard << 0;
    QTest::newRow("Text3 viewport, mouse") << "text3.viewport" << mouse << 0;
    QTest::newRow("Text3, keyboard") << "text3" << keyboard << 0;
    QTest::newRow("window itself") << "window" << mouse << 0;
    QTest::newRow("Combo2 keeps its menu, mouse") << "combo2.edit" << mouse << 1;
    QTest::newRow("Combo2 keeps its menu, keyboard") << "combo2.edit" << keyboard << 1;
}

void WinsvcQtTest::contextMenu()
{
    QFETCH(QString, target);
    QFETCH(int, reason);
    QFETCH(int, delivered);

    Window w;
    w.hookAll();
    w.window.show();

    for (bool running : {false, true}) {
        w.running = running;
        const auto r = static_cast<QContextMenuEvent::Reason>(reason);
        int seen = -1;
        if (target == "text1.viewport")
            seen = sendContextMenu(w.text1->viewport(), w.text1, r);
        else if (target == "text1")
            seen = sendContextMenu(w.text1, w.text1, r);
        else if (target == "text2")
            seen = sendContextMenu(w.text2, w.text2, r);
        else if (target == "text3.viewport")
            seen = sendContextMenu(w.text3->viewport(), w.text3, r);
        else if (target == "text3")
            seen = sendContextMenu(w.text3, w.text3, r);
        else if (target == "window")
            seen = sendContextMenu(&w.window, &w.window, r);
        else
            seen = sendContextMenu(w.combo2Edit, w.combo2Edit, r);
        QCOMPARE(seen, delivered);
    }
    QCOMPARE(w.notices, 0);
}

void WinsvcQtTest::altSpace_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("swallowed");

    const int alt = Qt::AltModifier;
    QTest::newRow("Alt+Space while running") << true << int(Qt::Key_Space) << alt << true;
    QTest::newRow("Alt+Space while idle") << false << int(Qt::Key_Space) << alt << false;
    QTest::newRow("Space while running") << true << int(Qt::Key_Space) << 0 << false;
    QTest::newRow("Ctrl+Alt+Space while running")
        << true << int(Qt::Key_Space) << int(Qt::AltModifier | Qt::ControlModifier) << false;
    QTest::newRow("Alt+F4 while running") << true << int(Qt::Key_F4) << alt << false;
}

void WinsvcQtTest::altSpace()
{
    QFETCH(bool, running);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, swallowed);

    Window w;
    w.hookAll();
    w.running = running;
    w.window.show();

    // The key goes to the focused child, not to the window.
    Probe probe(QEvent::KeyPress);
    w.text2->installEventFilter(&probe);
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(w.text2, &press);

    QCOMPARE(probe.count, swallowed ? 0 : 1);
    QCOMPARE(w.notices, swallowed ? 1 : 0);
}

void WinsvcQtTest::closeRequestPassesWhileRunning()
{
    Window w;
    w.hookAll();
    w.running = true;
    w.window.show();

    Probe probe(QEvent::Close);
    w.window.installEventFilter(&probe);
    QCloseEvent close;
    QApplication::sendEvent(&w.window, &close);
    QCOMPARE(probe.count, 1);
    QVERIFY(close.isAccepted());
    QCOMPARE(w.notices, 0);
}

void WinsvcQtTest::secondInstallIsRefused()
{
    Window w;
    w.hookAll();
    MenuCounting<QPlainTextEdit> other(&w.window);
    QVERIFY(!HookText1(&other));
    QCOMPARE(sendContextMenu(other.viewport(), &other, QContextMenuEvent::Mouse), 1);
    QVERIFY(!HookMainWindow(&w.window, [] { return true; }, [] {}));
    QVERIFY(!HookText1(nullptr));

    // Still exactly one working hook on the first widget.
    QCOMPARE(sendContextMenu(w.text1->viewport(), w.text1, QContextMenuEvent::Mouse), 0);
    UnhookText1();
    QVERIFY(HookText1(&other));
    QCOMPARE(sendContextMenu(other.viewport(), &other, QContextMenuEvent::Mouse), 0);
    QCOMPARE(sendContextMenu(w.text1->viewport(), w.text1, QContextMenuEvent::Mouse), 1);
}

void WinsvcQtTest::unhookGivesTheMenuBack()
{
    Window w;
    w.hookAll();
    w.running = true;
    unhookAll();
    QCOMPARE(sendContextMenu(w.text1->viewport(), w.text1, QContextMenuEvent::Mouse), 1);
    QCOMPARE(sendContextMenu(w.text1, w.text1, QContextMenuEvent::Keyboard), 1);
    QCOMPARE(sendContextMenu(w.text2, w.text2, QContextMenuEvent::Keyboard), 1);
    QCOMPARE(sendContextMenu(&w.window, &w.window, QContextMenuEvent::Mouse), 1);

    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier);
    QApplication::sendEvent(w.text2, &press);
    QCOMPARE(w.notices, 0);
    // Removing twice is harmless.
    unhookAll();
}

void WinsvcQtTest::hookOnDestroyedWidgetCountsAsRemoved()
{
    {
        Window first;
        first.hookAll();
    }
    Window second;
    second.hookAll(); // QVERIFYs inside
    QCOMPARE(sendContextMenu(second.text3->viewport(), second.text3, QContextMenuEvent::Mouse), 0);
}

void WinsvcQtTest::maximizeHintFollowsEnableMaxButton()
{
    QWidget window;
    window.show();
    const WindowHandle handle = windowMenuHandle(&window);
    QVERIFY(handle != 0);
    QCOMPARE(windowMenuHandle(&window), handle); // registered once

    EnableMaxButton(handle, false);
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(window.isVisible());

    // The standard menu comes back, the button stays off.
    QVERIFY(FormDisableMove(handle, false));
    QVERIFY(FormDisableMove(handle, true));
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    // The Maximize item got its standard id back with the menu, so enabling
    // now finds nothing under the private id.
    QVERIFY_THROWS_EXCEPTION(CloseBtnError, EnableMaxButton(handle, true));
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

void WinsvcQtTest::initialStyleFollowsWindowHints()
{
    WindowMenuModel model;
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                | Qt::WindowCloseButtonHint);
    auto *binding = new QtWindowMenuBinding(model, &window);
    QCOMPARE(model.style(binding->handle()) & kWsMaximizeBox, 0u);

    const MenuHandle menu = model.getSystemMenu(binding->handle(), false);
    QVERIFY(model.setMenuItemId(menu, kScMaximize, kPrivateMaximizeId));
    EnableMaxButton(model, binding->handle(), true);
    QVERIFY(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

void WinsvcQtTest::bindingGoesWithTheWindow()
{
    WindowMenuModel model;
    auto *window = new QWidget;
    const WindowHandle handle = (new QtWindowMenuBinding(model, window))->handle();
    QVERIFY(model.isWindow(handle));
    delete window;
    QVERIFY(!model.isWindow(handle));
    QVERIFY_THROWS_EXCEPTION(CloseBtnError, EnableMaxButton(model, handle, false));
}

QTEST_MAIN(WinsvcQtTest)
#include "tst_winsvc_qt.moc"
