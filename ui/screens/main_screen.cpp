#include "ui/screens/main_screen.h"

#include "base/strings.h"
#include "ui/label.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kMainMenu = 102;
constexpr uint16_t kHide = 10007;
constexpr uint16_t kExitVokar = 10009;
} // namespace

MainScreen::MainScreen(Actions actions)
    : VirtualDialog(LoadResourceString(StringId::APP_NAME), kMainMenu), actions_(std::move(actions))
{
    add<Label>(LoadResourceString(StringId::APP_NAME), 0, true);
}

intptr_t MainScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    const auto command = static_cast<uint16_t>(message.wparam);
    if (command == kExitVokar) {
        root()->end_dialog(kEndApplication);
    } else if (command == kHide) {
        if (actions_.hide)
            actions_.hide();
    } else if (actions_.other) {
        actions_.other(command);
    } else {
        return 0;
    }
    return 1;
}

} // namespace vokar::ui
