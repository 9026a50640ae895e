#include "winsvc/entry_keys.h"

#include <gtest/gtest.h>

namespace winsvc {
namespace {

// ---- typed characters ------------------------------------------------------

struct CharacterCase {
    char32_t ch;
    DigitKey verdict;
};

class FilterDigitCharacterTest : public ::testing::TestWithParam<CharacterCase> {};

TEST_P(FilterDigitCharacterTest, PassesDigitsAndBackspaceOnly)
{
    EXPECT_EQ(GetParam().verdict, filterDigitCharacter(GetParam().ch)) << static_cast<unsigned>(GetParam().ch);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, FilterDigitCharacterTest,
    ::testing::Values(CharacterCase{U'0', DigitKey::Pass}, CharacterCase{U'5', DigitKey::Pass},
                      CharacterCase{U'9', DigitKey::Pass}, CharacterCase{8, DigitKey::Pass},
                      CharacterCase{13, DigitKey::Enter}, CharacterCase{3, DigitKey::Refuse},
                      CharacterCase{22, DigitKey::Refuse}, CharacterCase{27, DigitKey::Refuse},
                      CharacterCase{10, DigitKey::Refuse}, CharacterCase{127, DigitKey::Refuse},
                      CharacterCase{U' ', DigitKey::Refuse}, CharacterCase{U'a', DigitKey::Refuse},
                      CharacterCase{U'-', DigitKey::Refuse}, CharacterCase{U'.', DigitKey::Refuse},
                      CharacterCase{U'/', DigitKey::Refuse}, CharacterCase{U':', DigitKey::Refuse},
                      CharacterCase{U'\u0665', DigitKey::Refuse})); // Arabic-Indic five

// ---- key presses -----------------------------------------------------------

using Key = KeyStroke::Key;

KeyStroke letter(char32_t upper, bool control, bool alt = false)
{
    KeyStroke s{Key::Letter, upper, control, alt, {}};
    if (!control) // plain and Alt chords carry the letter as text
        s.text = std::u32string(1, upper - U'A' + U'a');
    return s;
}

KeyStroke key(Key k, bool control = false, std::u32string text = {})
{
    return KeyStroke{k, 0, control, false, std::move(text)};
}

KeyStroke typed(std::u32string text, bool control = false, bool alt = false)
{
    return KeyStroke{Key::Other, 0, control, alt, std::move(text)};
}

struct StrokeCase {
    const char *name;
    KeyStroke stroke;
    std::optional<char32_t> ch;
    DigitKey verdict;
};

class FilterDigitKeyTest : public ::testing::TestWithParam<StrokeCase> {};

TEST_P(FilterDigitKeyTest, JudgesTheCharacterTheKeyTypes)
{
    EXPECT_EQ(GetParam().ch, typedCharacter(GetParam().stroke));
    EXPECT_EQ(GetParam().verdict, filterDigitKey(GetParam().stroke));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FilterDigitKeyTest,
    ::testing::Values(
        StrokeCase{"Digit", typed(U"7"), U'7', DigitKey::Pass},
        StrokeCase{"Letter", letter(U'A', false), U'a', DigitKey::Refuse},
        StrokeCase{"Enter", key(Key::Enter, false, U"\r"), 13, DigitKey::Enter},
        StrokeCase{"CtrlEnterIsLineFeed", key(Key::Enter, true), 10, DigitKey::Refuse},
        StrokeCase{"Backspace", key(Key::Backspace, false, U"\b"), 8, DigitKey::Pass},
        StrokeCase{"CtrlBackspaceIsDel", key(Key::Backspace, true, U"\x7f"), 127, DigitKey::Refuse},
        // clipboard and undo chords are control characters, whatever text
        // the window system attaches (X11 gives "\x16" for Ctrl+V, others none)
        StrokeCase{"CtrlA", letter(U'A', true), 1, DigitKey::Refuse},
        StrokeCase{"CtrlC", letter(U'C', true), 3, DigitKey::Refuse},
        StrokeCase{"CtrlV", letter(U'V', true), 22, DigitKey::Refuse},
        StrokeCase{"CtrlVWithText", KeyStroke{Key::Letter, U'V', true, false, U"\x16"}, 22, DigitKey::Refuse},
        StrokeCase{"CtrlX", letter(U'X', true), 24, DigitKey::Refuse},
        StrokeCase{"CtrlZ", letter(U'Z', true), 26, DigitKey::Refuse},
        // Ctrl with a key that has no control character types nothing
        StrokeCase{"CtrlDigit", typed(U"1", true), std::nullopt, DigitKey::Edit},
        // Alt chords type nothing but must not let the toolkit insert their text
        StrokeCase{"AltLetter", letter(U'A', false, true), std::nullopt, DigitKey::Refuse},
        StrokeCase{"AltDigit", typed(U"5", false, true), std::nullopt, DigitKey::Refuse},
        StrokeCase{"AltArrow", typed(U"", false, true), std::nullopt, DigitKey::Edit},
        // AltGr arrives as Ctrl+Alt on Windows and types its text
        StrokeCase{"AltGrAt", KeyStroke{Key::Letter, U'Q', true, true, U"@"}, U'@', DigitKey::Refuse},
        StrokeCase{"Escape", typed(U"\x1b"), 27, DigitKey::Refuse},
        StrokeCase{"Space", typed(U" "), U' ', DigitKey::Refuse},
        StrokeCase{"Arrow", typed(U""), std::nullopt, DigitKey::Edit},
        StrokeCase{"ShiftInsertPastes", typed(U""), std::nullopt, DigitKey::Edit},
        StrokeCase{"Tab", key(Key::Tab, false, U"\t"), std::nullopt, DigitKey::Edit},
        StrokeCase{"DeleteWithDelText", key(Key::Delete, false, U"\x7f"), std::nullopt, DigitKey::Edit}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace winsvc
