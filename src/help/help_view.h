#pragma once

// The help view of the main window.  The help is not a window of its own:
// opening it spreads the container Picture1 (holding the document box T4,
// the panel label Label17 and the "Close Help" button Command5) over the
// whole client area of Form1 and disables every other control; closing it
// restores the normal view.  The functions find the controls by objectName
// among the children of the window they are given, so they work with any
// window built to the main window's layout.

#include <QRect>
#include <QSize>

class QObject;
class QWidget;

namespace help {

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
// (a control missing or of the wrong kind, building the text) shows the
// warning "Error while loading help text!" and leaves the window in its
// normal view with the mouse pointer restored.
void openHelpView(QWidget *form1);

// Command5 "Close Help" (also the answer to a close request while the view
// is open): back to the normal view, T4 emptied, focus on Command4.
// "Abort Test" (Command2) stays disabled.  Missing controls are skipped.
void closeHelpView(QWidget *form1);

// True while the help view is open (T4 visible).
bool isHelpViewOpen(QWidget *form1);

// Hides the caret of T4 while it is visible: the document is for reading
// and copying, and a blinking caret would suggest it can be edited.
void hideHelpCaret(QWidget *form1);

// Picture1 received the focus: hide T4's caret and hand the focus on to
// Command5 when that is enabled and visible.
void handOnPicture1Focus(QWidget *form1);

// Installs an event filter, owned by form1, on T4 and Picture1 that applies
// the two rules above on focus, click and mouse-move events.  Calling it
// again does not install a second filter.
void installHelpViewFilters(QWidget *form1);

} // namespace help
