#include "app/client_ui.h"

#include "platform/window.h"
#include "ui/progress_screen.h"
#include "ui/ui_messages.h"

namespace vokar::app {

namespace {
// The login progress screen's menu: Cancel only.
constexpr int kLoginProgressMenu = 144;
} // namespace

void ClientUi::on_gui(const std::function<void()>& fn)
{
    platform::send_message(root_.window(), ui::code(ui::UiMessage::RunOnGuiThread),
                           reinterpret_cast<uintptr_t>(&fn));
}

intptr_t ClientUi::send_message(MessageCode message, uintptr_t wparam)
{
    return platform::send_message(root_.window(), code(message), wparam);
}

void ClientUi::post_message(MessageCode message, uintptr_t wparam)
{
    platform::post_message(root_.window(), code(message), wparam);
}

void ClientUi::show_progress(StringId text)
{
    root_.progress(LoadResourceString(text), kLoginProgressMenu, screens_.on_progress_command);
}

void ClientUi::show_message(StringId text, StringId title)
{
    show_message(LoadResourceString(text), title);
}

void ClientUi::show_message(const std::wstring& text, StringId title)
{
    const ui::MessageKind kind =
        title == StringId::ERROR_TITLE ? ui::MessageKind::Error : ui::MessageKind::Information;
    on_gui([&] {
        // A message that ends a wait takes the progress screen's place.
        const bool replace = root_.current() == &root_.progress_screen();
        root_.message(text, kind, replace);
    });
}

void ClientUi::show_main_screen()
{
    if (screens_.main)
        root_.reset_to_screen(*screens_.main);
}

void ClientUi::ask_import_accounts()
{
    if (screens_.ask_import_accounts)
        on_gui(screens_.ask_import_accounts);
}

bool ClientUi::progress_screen_current()
{
    bool current = false;
    on_gui([&] { current = root_.current() == &root_.progress_screen(); });
    return current;
}

void ClientUi::show_new_version(const JabberEvent& event)
{
    if (screens_.show_new_version)
        on_gui([&] { screens_.show_new_version(event); });
}

void ClientUi::show_network_check(bool checking)
{
    if (screens_.network_check)
        on_gui([&] { screens_.network_check(checking); });
}

} // namespace vokar::app
