#include "winsvc/entry_keys.h"

namespace winsvc {

namespace {

constexpr char32_t kBackspace = 8;
constexpr char32_t kLineFeed = 10;
constexpr char32_t kCarriageReturn = 13;
constexpr char32_t kDelete = 127;

} // namespace

std::optional<char32_t> typedCharacter(const KeyStroke &stroke)
{
    using Key = KeyStroke::Key;
    switch (stroke.key) {
    case Key::Tab:
    case Key::Delete: // some systems attach DEL as text, but the key edits
        return std::nullopt;
    case Key::Enter:
        return stroke.control ? kLineFeed : kCarriageReturn;
    case Key::Backspace:
        return stroke.control ? kDelete : kBackspace;
    default:
        break;
    }
    if (stroke.alt && !stroke.control)
        return std::nullopt;
    if (stroke.control && !stroke.alt) {
        if (stroke.key == Key::Letter && stroke.letter >= U'A' && stroke.letter <= U'Z')
            return stroke.letter - U'A' + 1;
        return std::nullopt;
    }
    if (stroke.text.empty())
        return std::nullopt;
    return stroke.text.front();
}

DigitKey filterDigitCharacter(char32_t ch)
{
    if (ch == kCarriageReturn)
        return DigitKey::Enter;
    if (ch == kBackspace || (ch >= U'0' && ch <= U'9'))
        return DigitKey::Pass;
    return DigitKey::Refuse;
}

DigitKey filterDigitKey(const KeyStroke &stroke)
{
    if (const std::optional<char32_t> ch = typedCharacter(stroke))
        return filterDigitCharacter(*ch);
    if (stroke.alt && !stroke.control && !stroke.text.empty())
        return DigitKey::Refuse;
    return DigitKey::Edit;
}

} // namespace winsvc
