#include "ui/progress_screen.h"

#include "base/strings.h"
#include "ui/ui_messages.h"

namespace vokar::ui {

ProgressScreen::ProgressScreen()
    : VirtualDialog(LoadResourceString(StringId::PROGRESS_TITLE), 131),
      animation_(&add<ProgressAnimation>())
{
    animation_->set_text(LoadResourceString(StringId::PROGRESS_LOGGING_IN));
}

void ProgressScreen::set_progress(const std::wstring& text, int menu_id,
                                  std::function<void(uint16_t)> on_command)
{
    animation_->set_text(text);
    set_menu_bar_id(menu_id);
    on_command_ = std::move(on_command);
}

intptr_t ProgressScreen::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command) && on_command_) {
        on_command_(static_cast<uint16_t>(message.wparam));
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

void ProgressScreen::layout(const platform::Rect& client)
{
    VirtualDialog::layout(client);
    // The indicator sits in the middle of the screen.
    const platform::Rect& r = animation_->rect();
    animation_->move({r.x, client.y + (client.h - r.h) / 2, r.w, r.h});
}

} // namespace vokar::ui
