#include "ui/screens/dialer.h"

#include "base/strings.h"
#include "ui/menus.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kMainMenu = 102;
} // namespace

DialerScreen::DialerScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::TOUCH_DIALER_TITLE), kMainMenu), hub_(hub),
      number_(add<TextBox>(kNumberEdit, L"", TextBox::Options{.numeric = true, .max_length = 40}))
{
}

void DialerScreen::open(const std::wstring& typed)
{
    number_.set_text(typed);
    root()->show_screen(*this);
}

void DialerScreen::dial()
{
    if (number_.text().empty()) {
        hub_.error(StringId::TOUCH_DIALER_ERROR_NO_NUMBER);
        return;
    }
    const std::wstring number = number_.text();
    root()->back();
    hub_.service().call(number);
}

intptr_t DialerScreen::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command)) {
        const auto command = static_cast<uint16_t>(message.wparam);
        if (command == ui::command(CommandId::DIAL)) {
            dial();
            return 1;
        }
        return hub_.common_command(command, number_.text()) ? 1 : 0;
    }
    if (message.code == code(UiMessage::KeyDown)) {
        const auto key = static_cast<platform::Key>(message.wparam);
        if (key == platform::Key::Talk || key == platform::Key::Action) {
            dial();
            return 1;
        }
        // Back on an empty field leaves the dialer.
        if (key == platform::Key::Back && number_.text().empty()) {
            root()->back();
            return 1;
        }
    }
    return VirtualDialog::handle_message(message);
}

} // namespace vokar::ui
