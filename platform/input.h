#pragma once

#include <cstdint>
#include <string>

namespace vokar::platform {

// The phone's keys, numbered as the virtual-key codes the screens expect in
// their key-down messages. On the desktop: F1/F2 are the soft keys, the arrows
// the navigation pad, Enter the action key, Escape Back, F3 Talk, F4 End.
enum class Key : uint16_t {
    None = 0,
    Backspace = 8,
    Action = 13,
    Back = 27,
    Left = 37,
    Up = 38,
    Right = 39,
    Down = 40,
    Digit0 = '0',
    Digit1,
    Digit2,
    Digit3,
    Digit4,
    Digit5,
    Digit6,
    Digit7,
    Digit8,
    Digit9,
    SoftLeft = 112,
    SoftRight = 113,
    Talk = 114,
    End = 115,
    Star = 119,
    Hash = 120,
};

// The character a keypad key types, or 0 when it types none.
constexpr wchar_t key_char(Key key)
{
    const auto k = static_cast<uint16_t>(key);
    if (k >= '0' && k <= '9')
        return static_cast<wchar_t>(k);
    if (key == Key::Star)
        return L'*';
    if (key == Key::Hash)
        return L'#';
    return 0;
}

// One input event from the window. Keypad keys carry their character in the
// key-down; other typed text arrives as Text events.
struct InputEvent {
    enum class Type { KeyDown, KeyUp, Text };
    Type type = Type::KeyDown;
    Key key = Key::None;
    std::wstring text;
};

} // namespace vokar::platform
