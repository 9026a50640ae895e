#pragma once
// Qt's key events in the terms of the digit entry filter (entry_keys.h).
#include "winsvc/entry_keys.h"

class QKeyEvent;

namespace winsvc {

KeyStroke keyStrokeOf(const QKeyEvent &event);

} // namespace winsvc
