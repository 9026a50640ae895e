// Without a Windows window manager there is no editable system menu: the
// service is the model, so the caption-button logic still runs and the Qt
// adapter can map the style onto window hints.
#include "winsvc/window_menu_model.h"

namespace winsvc {

WindowMenuPlatform &systemWindowMenu() { return windowMenuModel(); }

} // namespace winsvc
