#include "app/web_request_screens.h"

#include "platform/window.h"
#include "ui/progress_screen.h"
#include "ui/ui_messages.h"

namespace vokar::app {

namespace {
// The web requests' progress menu: Hide only.
constexpr int kWebProgressMenu = 145;

// Runs `fn` on the GUI thread (at once when called there); nothing once the
// pump has stopped.
void on_gui(ui::UiRoot& root, const std::function<void()>& fn)
{
    platform::send_message(root.window(), ui::code(ui::UiMessage::RunOnGuiThread),
                           reinterpret_cast<uintptr_t>(&fn));
}
} // namespace

void WebRequestScreens::show_progress(const std::wstring& text,
                                      std::function<void(int command)> on_key)
{
    root_.progress(text, kWebProgressMenu, [on_key = std::move(on_key)](uint16_t command) {
        if (on_key)
            on_key(command);
    });
}

void WebRequestScreens::hide_progress()
{
    on_gui(root_, [this] {
        if (root_.current() == &root_.progress_screen())
            root_.back();
    });
}

void WebRequestScreens::show_message(const std::wstring& text, bool error,
                                     MessagePlacement placement)
{
    const ui::MessageKind kind = error ? ui::MessageKind::Error : ui::MessageKind::Information;
    on_gui(root_, [&] {
        const bool replace = placement == MessagePlacement::ReplaceCurrent ||
                             root_.current() == &root_.progress_screen();
        root_.message(text, kind, replace);
    });
}

} // namespace vokar::app
