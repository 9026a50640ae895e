#include "winsvc/qt_entry_keys.h"

#include <QKeyEvent>

namespace winsvc {

KeyStroke keyStrokeOf(const QKeyEvent &event)
{
    KeyStroke stroke;
    const int key = event.key();
    using Key = KeyStroke::Key;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        stroke.key = Key::Enter;
        break;
    case Qt::Key_Backspace:
        stroke.key = Key::Backspace;
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        stroke.key = Key::Tab;
        break;
    case Qt::Key_Delete:
        stroke.key = Key::Delete;
        break;
    default:
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            stroke.key = Key::Letter;
            stroke.letter = static_cast<char32_t>(U'A' + (key - Qt::Key_A));
        }
        break;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    stroke.control = modifiers.testFlag(Qt::ControlModifier);
    stroke.alt = modifiers.testFlag(Qt::AltModifier);
    for (const uint ch : event.text().toUcs4())
        stroke.text.push_back(static_cast<char32_t>(ch));
    return stroke;
}

} // namespace winsvc
