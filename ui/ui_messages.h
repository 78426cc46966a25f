#pragma once

#include <cstdint>

namespace vokar::ui {

// Window messages of the dialog window. Codes from 2024 on share the number
// space of vokar::MessageCode (the controller's events); string identifiers
// are a separate space that overlaps both.
enum class UiMessage : uint32_t {
    KeyDown = 256,         // wparam: platform::Key
    KeyUp = 257,           // wparam: platform::Key
    Char = 258,            // wparam: the character
    Command = 273,         // wparam: the command identifier of a soft key or popup entry
    Reactivate = 2024,     // re-runs the current screen's activation
    Repaint = 2028,        // paints the current screen at once
    ShowScreen = 2131,     // wparam: VirtualDialog*, pushed
    ReplaceScreen = 2132,  // wparam: VirtualDialog*, replaces the top
    ResetToScreen = 2133,  // wparam: VirtualDialog*, becomes the only entry
    SettingChange = 2134,  // repaints like Repaint
    RunOnGuiThread = 2300, // wparam: const std::function<void()>*, sent only
};

constexpr uint32_t code(UiMessage m)
{
    return static_cast<uint32_t>(m);
}

// The dialog's result when the last screen is gone: the application ends.
constexpr int kEndApplication = 25;

} // namespace vokar::ui
