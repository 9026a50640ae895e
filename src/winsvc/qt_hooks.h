#pragma once
// The message hooks in Qt form.  The text-box hooks suppress the edit
// context menu of Text1, Text2 and Text3; the main-window hook suppresses the
// window's own context menu and, while a test runs, turns every request for
// the window menu that reaches the program into the "please wait" notice.
//
// What reaches the program depends on the window system:
//  - Windows: the menu requests are native messages (WM_SYSCOMMAND with the
//    icon/keyboard commands, 0x313 from the taskbar); a native event filter
//    catches them (qt_hooks_native_win32.cpp).  Alt+Space also arrives as a
//    key press when Qt does not turn it into the menu itself.
//  - X11/Wayland: the window manager draws and opens the window menu itself
//    and never tells the program, so only the Qt key press Alt+Space (when
//    the window manager lets it through) can be caught.
//
// Each hook is installed once and removed once.  A second install without
// removal is refused (returns false) instead of stacking a second filter,
// which would be the Qt form of storing the replacement as its own previous
// procedure.  A hook whose widget was destroyed counts as removed.
#include <functional>

class QWidget;

namespace winsvc {

// Install on a QLineEdit, QTextEdit or QPlainTextEdit.  For scroll areas the
// mouse's context menu event arrives at the viewport and the keyboard's
// (Menu key, Shift+F10) at the widget itself, so both are covered.
bool HookText1(QWidget *text);
bool HookText2(QWidget *text);
bool HookText3(QWidget *text);
void UnhookText1();
void UnhookText2();
void UnhookText3();

// `testRunning` is read at every request; `showNotice` makes Text3 visible
// and starts Timer3.  Close requests are never touched.  Needs a running
// QApplication (the filter watches the window's key presses application-
// wide, since they go to whichever child has the focus).
bool HookMainWindow(QWidget *window, std::function<bool()> testRunning,
                    std::function<void()> showNotice);
void UnhookMainWindow();

} // namespace winsvc
