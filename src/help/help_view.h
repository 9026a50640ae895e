#pragma once

// The help view of the main window.  The help is not a window of its own:
// opening it spreads the container Picture1 (holding the document box T4,
// the panel label Label17 and the "Close Help" button Command5) over the
// whole client area of Form1 and has every other control disabled; closing
// it restores the normal view.  The window owns all of these controls and
// lends them through HelpHost; the help view never looks for a control.

#include <QRect>
#include <QSize>

class QObject;
class QPlainTextEdit;
class QWidget;

namespace help {

// The help view's own controls in the window; any of them may be missing.
struct HelpControls
{
    QWidget *picture1 = nullptr;
    QPlainTextEdit *t4 = nullptr;
    QWidget *label17 = nullptr;
    QWidget *command5 = nullptr;
};

// What the help view asks of the window it lives in.
class HelpHost
{
public:
    virtual ~HelpHost() = default;
    // The window the view fills, and the parent of its message.
    virtual QWidget *hostWindow() = 0;
    virtual HelpControls helpControls() = 0;
    // false: every control of the normal view off while the help is open
    // (Command5 too, until the document is in place); true: back on, all
    // but "Abort Test", which only a running test enables.
    virtual void enableNormalView(bool enabled) = 0;
    // Command4, the Help button, takes the focus.
    virtual void focusHelpButton() = 0;
};

// Where the help view puts its controls for a client area of the given size
// (pixels; Label17, T4 and Command5 relative to Picture1):
//  - Picture1 covers the whole client area;
//  - Label17, the boxed light-grey panel, fills it with a margin of
//    kHelpMargin on the left, top and right, down to a bottom strip;
//  - T4 lies inside the panel, one pixel in, so the panel's frame shows
//    around the borderless box;
//  - Command5 keeps its designed size (89 x 23) and sits centred in the
//    bottom strip.
struct HelpViewGeometry
{
    QRect picture1;
    QRect t4;
    QRect label17;
    QRect command5;
};

inline constexpr int kHelpMargin = 8;
inline constexpr QSize kCloseButtonSize{89, 23};

HelpViewGeometry helpViewGeometry(QSize clientArea);

// Command4 "Help": turns the main window into the help view.  Any failure
// (a control missing, building the text) shows the warning "Error while
// loading help text!" and leaves the window in its normal view with the
// mouse pointer restored.
void openHelpView(HelpHost &host);

// Command5 "Close Help" (also the answer to a close request while the view
// is open): back to the normal view, T4 emptied, focus on Command4.
// "Abort Test" (Command2) stays disabled.  Missing controls are skipped.
void closeHelpView(HelpHost &host);

// True while the help view is open (T4 visible).
bool isHelpViewOpen(HelpHost &host);

// Hides the caret of T4 while it is visible: the document is for reading
// and copying, and a blinking caret would suggest it can be edited.
void hideHelpCaret(HelpHost &host);

// Picture1 received the focus: hide T4's caret and hand the focus on to
// Command5 when that is enabled and visible.
void handOnPicture1Focus(HelpHost &host);

// Installs an event filter, owned by the host's window, on T4 and Picture1
// that applies the two rules above on focus, click and mouse-move events.
// Calling it again does not install a second filter.
void installHelpViewFilters(HelpHost &host);
// Removes that filter: the host calls it before it goes, so that the focus
// changes of its dying children never reach a host that is no longer there.
void removeHelpViewFilters(HelpHost &host);

} // namespace help
