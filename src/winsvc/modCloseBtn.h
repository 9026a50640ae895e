#pragma once
// modCloseBtn: disables the maximise button together with the system menu's
// Maximize item, and removes / restores the Move item.  All state lives in
// the window (style and system menu); this module keeps none.
#include "winsvc/window_menu.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace winsvc {

// Raised by EnableMaxButton.  `number` is the base of an application's own
// error numbers (0x80040000); `source` is "modCloseBtn::<operation>";
// `description` is "modCloseBtn::<operation>() - <what failed>", also what().
struct CloseBtnError : std::runtime_error {
    static constexpr int32_t kNumber = -2147221504;

    CloseBtnError(std::string source, std::string description);

    int32_t number = kNumber;
    std::string source;
    std::string description;
};

// The identifier the Maximize item carries while it is disabled, so that the
// system cannot find SC_MAXIMIZE and maximise the window anyway.
constexpr uint32_t kPrivateMaximizeId = static_cast<uint32_t>(-11); // 0xFFFFFFF5

// Disables (enable=false) or enables the maximise button and the Maximize
// item.  Throws CloseBtnError when the handle is no window, the item is not
// found under its current identifier (e.g. disabling twice), or changing its
// identifier or state fails; changes made before the failing step are kept.
void EnableMaxButton(WindowMenuPlatform &platform, WindowHandle window, bool enable);
void EnableMaxButton(WindowHandle window, bool enable);

// restore=false removes Move from the window's menu (the user cannot move
// the window); restore=true gives the window back the standard menu, which
// also undoes EnableMaxButton's menu change but not the style change.
// Never throws.  Returns false when the menu could not be changed.
bool FormDisableMove(WindowMenuPlatform &platform, WindowHandle window, bool restore);
bool FormDisableMove(WindowHandle window, bool restore);

namespace detail {
// Swaps the item between standardId (enabled) and privateId (greyed); `name`
// is the calling operation for the error texts.
void ToggleSystemMenuItem(WindowMenuPlatform &platform, WindowHandle window, uint32_t standardId,
                          uint32_t privateId, bool enable, const std::string &name);
} // namespace detail

} // namespace winsvc
