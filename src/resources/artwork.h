#pragma once
// The program's pictures, painted at run time so that no binary asset has
// to be kept in the repository: the window icon shared by both windows and
// the connection diagram of the main window.  Needs a QGuiApplication.
#include <QIcon>
#include <QPixmap>

namespace resources {

inline constexpr int kDiagramWidth = 453;
inline constexpr int kDiagramHeight = 202;

// Icon pixels at `size` x `size` (drawn for 16 and 32): on black, a cyan
// arrow pointing left along the top and a green arrow pointing right along
// the bottom, joined into a closed loop by a cyan line at the left and a
// green line at the right.
QPixmap iconPixmap(int size);

// The window icon with its 16 x 16 and 32 x 32 forms.
QIcon appIcon();

// The 453 x 202 connection diagram on the window grey: PC connector,
// RS-232 transceiver, AVR MCU with its echo path, data directions in the
// colours of the transmitted (cyan) and received (green) data.  The top-left
// corner stays empty for the port status label.
QPixmap connectionDiagram();

} // namespace resources
