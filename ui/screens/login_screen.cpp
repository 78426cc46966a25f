#include "ui/screens/login_screen.h"

#include "base/strings.h"
#include "ui/menus.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr uint16_t kLogin = 10000;
constexpr uint16_t kExit = 10001;
constexpr uint16_t kDialerDialog = 9901;
constexpr int kLoginMenu = 101;
} // namespace

LoginScreen::LoginScreen(Actions actions)
    : VirtualDialog(LoadResourceString(StringId::LOGIN_TITLE), kLoginMenu),
      actions_(std::move(actions)),
      number_(add<TextBox>(kNumberEdit, LoadResourceString(StringId::LOGIN_MOBILE_NUMBER_LABEL),
                           TextBox::Options{.numeric = true, .max_length = 32})),
      password_(add<TextBox>(kPasswordEdit, LoadResourceString(StringId::LOGIN_PASSWORD_LABEL))),
      link_(
          add<Label>(LoadResourceString(StringId::LOGIN_CREATE_ACCOUNT_LINK), kCreateAccountLink)),
      footer_(add<LoginFooter>(kFooter))
{
    if (actions_.stored_user)
        number_.set_text(actions_.stored_user());
    if (actions_.stored_password)
        password_.set_text(actions_.stored_password());
    link_.set_action([this] {
        if (actions_.create_account)
            actions_.create_account();
    });
}

void LoginScreen::activate(bool first_time)
{
    if (first_time && actions_.network_available)
        footer_.set_connected(actions_.network_available());
    VirtualDialog::activate(first_time);
}

intptr_t LoginScreen::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command)) {
        switch (static_cast<uint16_t>(message.wparam)) {
        case kLogin:
            press_login();
            return 1;
        case kExit:
            root()->end_dialog(kEndApplication);
            return 1;
        case kDialerDialog:
            if (actions_.open_main_screen)
                actions_.open_main_screen();
            return 1;
        default:
            return 0;
        }
    }
    return VirtualDialog::handle_message(message);
}

void LoginScreen::error(int string_id)
{
    root()->message(LoadResourceString(string_id), MessageKind::Error);
}

void LoginScreen::press_login()
{
    if (!actions_.network_available || !actions_.network_available()) {
        error(static_cast<int>(StringId::ERROR_NO_CONNECTION));
        return;
    }
    const std::wstring user =
        actions_.normalize ? actions_.normalize(number_.text()) : number_.text();
    if (user.size() < 2) {
        error(static_cast<int>(StringId::LOGIN_ERROR_INVALID_USERNAME));
        return;
    }
    if (password_.text().empty()) {
        error(static_cast<int>(StringId::LOGIN_ERROR_INVALID_PASSWORD));
        return;
    }
    if (actions_.log_in)
        actions_.log_in(user, password_.text());
}

void LoginScreen::set_credentials(const std::wstring& number, const std::wstring& password)
{
    number_.set_text(number);
    password_.set_text(password);
    invalidate();
}

void LoginScreen::show_network_status()
{
    footer_.set_connected(actions_.network_available && actions_.network_available());
    invalidate();
}

void LoginScreen::network_status_changed()
{
    const bool available = actions_.network_available && actions_.network_available();
    footer_.set_connected(available);
    invalidate();
    if (actions_.udp_needs_tunnel && actions_.udp_needs_tunnel())
        root()->message(LoadResourceString(StringId::WARNING_CONNECTION_RESTRICTED),
                        MessageKind::Warning);
    if (actions_.fetch_server_lists)
        actions_.fetch_server_lists();
    if (available && actions_.autologin && actions_.autologin())
        press_login();
}

} // namespace vokar::ui
