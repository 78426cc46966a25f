#include "ui/screens/new_version_screen.h"

#include "base/strings.h"
#include "platform/text.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kYesNoMenu = 141;
constexpr int kWaitMenu = 131;
constexpr uint16_t kYes = 10160;
constexpr uint16_t kNo = 10161;
} // namespace

NewVersionScreen::NewVersionScreen(UrlOpener& opener)
    : VirtualDialog(LoadResourceString(StringId::NEW_VERSION_TITLE), kYesNoMenu), opener_(opener),
      text_(add<Label>(L"", kText)), details_(add<Label>(L"", kDetails))
{
}

bool NewVersionScreen::is_web_address(const std::string& url)
{
    return url.starts_with("http://") || url.starts_with("https://");
}

void NewVersionScreen::show(bool compulsory, const std::wstring& details, const std::string& url)
{
    compulsory_ = compulsory;
    finishing_ = false;
    url_ = url;
    set_menu_bar_id(kYesNoMenu);
    text_.set_text(LoadResourceString(compulsory ? StringId::NEW_VERSION_COMPULSORY
                                                 : StringId::NEW_VERSION_OPTIONAL));
    details_.set_text(LoadResourceString(StringId::NEW_VERSION_DETAILS_LABEL) + L": " + details);
    root()->show_screen(*this);
}

intptr_t NewVersionScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    if (finishing_)
        return 1; // the program is ending
    switch (static_cast<uint16_t>(message.wparam)) {
    case kYes:
        finish(static_cast<int>(StringId::NEW_VERSION_OPENING_BROWSER), kExitAfterYesMs);
        if (is_web_address(url_))
            opener_.open(url_);
        else
            details_.set_text(platform::to_wide(url_)); // shown, never opened
        return 1;
    case kNo:
        if (compulsory_)
            finish(static_cast<int>(StringId::NEW_VERSION_MUST_INSTALL), kExitAfterNoMs);
        else
            root()->back();
        return 1;
    default:
        return 0;
    }
}

void NewVersionScreen::finish(int text_id, uint32_t exit_after_ms)
{
    finishing_ = true;
    set_menu_bar_id(kWaitMenu);
    root()->set_soft_keys(kWaitMenu);
    text_.set_text(LoadResourceString(text_id));
    invalidate();
    UiRoot* root = this->root();
    root->timers().start(exit_after_ms, 0, [root] { root->end_dialog(kEndApplication); });
}

} // namespace vokar::ui
