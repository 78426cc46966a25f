#include "ui/screens/simple_screens.h"

#include "base/strings.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kOkMenu = 113;
constexpr int kOkCancelMenu = 112;
constexpr int kYesNoMenu = 141;
constexpr uint16_t kOk = 10140;
constexpr uint16_t kCancel = 10081;
constexpr uint16_t kYes = 10160;
constexpr uint16_t kNo = 10161;

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}
} // namespace

AboutScreen::AboutScreen() : VirtualDialog(LoadResourceString(StringId::ABOUT_TITLE), kOkMenu)
{
    add<Label>(LoadResourceString(StringId::APP_NAME), 0, true);
    add<Label>(kVersionText, kVersion);
}

intptr_t AboutScreen::handle_message(const platform::Message& message)
{
    if (command_of(message) == kOk) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

EntryScreen::EntryScreen()
    : VirtualDialog(LoadResourceString(StringId::ENTRY_TITLE), kOkCancelMenu),
      edit_(add<TextBox>(kEdit, LoadResourceString(StringId::ENTRY_LABEL)))
{
}

void EntryScreen::ask(std::wstring title, std::wstring caption, std::wstring text,
                      std::function<void(const std::wstring&)> on_ok)
{
    set_title(std::move(title));
    edit_.set_caption(std::move(caption));
    edit_.set_text(text);
    on_ok_ = std::move(on_ok);
    root()->show_screen(*this);
}

intptr_t EntryScreen::handle_message(const platform::Message& message)
{
    switch (command_of(message)) {
    case kOk:
        if (on_ok_)
            on_ok_(edit_.text());
        return 1;
    case kCancel:
        root()->back();
        return 1;
    default:
        return VirtualDialog::handle_message(message);
    }
}

QuestionScreen::QuestionScreen() : VirtualDialog(L"", kYesNoMenu), text_(add<Label>(L"", kText)) {}

void QuestionScreen::ask(std::wstring title, std::wstring text, std::function<void()> on_yes)
{
    set_title(std::move(title));
    text_.set_text(std::move(text));
    on_yes_ = std::move(on_yes);
    root()->show_screen(*this);
}

intptr_t QuestionScreen::handle_message(const platform::Message& message)
{
    switch (command_of(message)) {
    case kYes:
        root()->back();
        if (on_yes_)
            on_yes_();
        return 1;
    case kNo:
        root()->back();
        return 1;
    default:
        return VirtualDialog::handle_message(message);
    }
}

} // namespace vokar::ui
