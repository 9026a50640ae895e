#pragma once
// The key filter of the digit entry boxes: the main window's baud rate and
// the calculator's frequency and baud rate.  Both windows follow the same
// rule, so it lives here once, free of any window system.
//
// A key press counts by the character it types, as a classic KeyPress
// handler sees it: Ctrl+letter is the control character of that letter
// (Ctrl+C is 3, Ctrl+V is 22, Ctrl+Z is 26), Ctrl+Backspace is DEL (127) and
// Ctrl+Enter is LF (10).  Such a character is refused like any other that
// is not a digit, so a clipboard chord cannot slip a text past the filter;
// pasting stays possible through the context menu and Shift+Insert, which
// type no character and whose result the boxes' repair rules check.
#include <optional>
#include <string>

namespace winsvc {

// A key press reduced to what decides the character it types.
struct KeyStroke {
    enum class Key {
        Other,     // any key not named here; its text decides
        Enter,     // Return or the keypad's Enter
        Backspace,
        Tab,       // Tab and Shift+Tab
        Delete,
        Letter,    // A to Z, see `letter`
    };
    Key key = Key::Other;
    char32_t letter = 0; // U'A' to U'Z' when key is Letter
    bool control = false;
    bool alt = false;
    std::u32string text; // what the window system says the key types; may be empty
};

// The character the key press types, or nothing when it types none: keys
// that move or delete (arrows, Home, Delete, Tab), Shift+Insert, Ctrl with a
// key other than a letter, and Alt chords (menu keys on Windows).  Ctrl
// together with Alt is AltGr on Windows and types its text.
std::optional<char32_t> typedCharacter(const KeyStroke &stroke);

// What a digit entry box does with a key press.
enum class DigitKey {
    Edit,   // types no character: the box handles it (moves, deletes, pastes)
    Pass,   // a digit 0 to 9 or Backspace: the box takes it
    Enter,  // character 13: discarded; the window acts on it
    Refuse, // any other character: discarded with a beep
};

// The rule for a typed character.
DigitKey filterDigitCharacter(char32_t ch);

// The rule for a key press.  An Alt chord that carries a text types nothing
// on Windows, but a toolkit would insert its text: it is refused.
DigitKey filterDigitKey(const KeyStroke &stroke);

} // namespace winsvc
