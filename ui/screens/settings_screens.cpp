#include "ui/screens/settings_screens.h"

#include <algorithm>
#include <vector>

#include "base/strings.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kSaveCancelMenu = 120;
constexpr uint16_t kSave = 10110;
constexpr uint16_t kCancel = 10081;

std::vector<std::wstring> volume_steps()
{
    std::vector<std::wstring> steps;
    for (int i = 0; i < SettingsScreen::kVolumeSteps; ++i)
        steps.push_back(std::to_wstring(i));
    return steps;
}

// The settings screens' commands: Save stores the values shown and confirms
// with `saved`; Cancel goes back. Any other command is not theirs.
template <typename Save>
intptr_t save_or_cancel(UiRoot& root, const platform::Message& message, StringId saved, Save save)
{
    switch (static_cast<uint16_t>(message.wparam)) {
    case kSave:
        save();
        root.message(LoadResourceString(saved), MessageKind::Information, true);
        return 1;
    case kCancel:
        root.back();
        return 1;
    default:
        return 0;
    }
}
} // namespace

SettingsScreen::SettingsScreen(Store store)
    : VirtualDialog(LoadResourceString(StringId::SETTINGS_TITLE), kSaveCancelMenu),
      store_(std::move(store)),
      volume_(add<ChoiceList>(kRingVolume, LoadResourceString(StringId::SETTINGS_RING_VOLUME_LABEL),
                              volume_steps())),
      prefix_(add<TextBox>(kDialingPrefixEdit,
                           LoadResourceString(StringId::SETTINGS_DIALING_PREFIX_LABEL),
                           TextBox::Options{.numeric = true, .max_length = 8})),
      autologin_(add<CheckBox>(kAutologin, LoadResourceString(StringId::SETTINGS_AUTOLOGIN_LABEL)))
{
}

void SettingsScreen::activate(bool first_time)
{
    // Shows what is stored each time, so a cancelled edit is forgotten.
    const Values v = store_.load ? store_.load() : Values{};
    volume_.set_selection(std::clamp(v.ring_volume, 0, kVolumeSteps - 1));
    // The unknown prefix ("-1") is shown as an empty field.
    prefix_.set_text(v.dialing_prefix == L"-1" ? L"" : v.dialing_prefix);
    autologin_.set_checked(v.autologin);
    VirtualDialog::activate(first_time);
}

intptr_t SettingsScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    return save_or_cancel(*root(), message, StringId::SETTINGS_SAVED, [this] {
        if (store_.save)
            store_.save(Values{volume_.selection(), prefix_.text().empty() ? L"-1" : prefix_.text(),
                               autologin_.checked()});
    });
}

FriendsSettingsScreen::FriendsSettingsScreen(Store store)
    : VirtualDialog(LoadResourceString(StringId::FRIENDS_SETTINGS_TITLE), kSaveCancelMenu),
      store_(std::move(store)),
      link_(add<Label>(LoadResourceString(StringId::FRIENDS_SETTINGS_EDIT_IM_ACCOUNTS),
                       kEditImAccounts)),
      alert_(add<CheckBox>(kMessageAlert,
                           LoadResourceString(StringId::FRIENDS_SETTINGS_MESSAGE_BEEP))),
      offline_(
          add<CheckBox>(kShowOffline, LoadResourceString(StringId::FRIENDS_SETTINGS_SHOW_OFFLINE))),
      holler_(
          add<CheckBox>(kAllowHoller, LoadResourceString(StringId::FRIENDS_SETTINGS_ALLOW_HOLLER)))
{
    link_.set_action([this] {
        if (store_.edit_im_accounts)
            store_.edit_im_accounts();
    });
}

void FriendsSettingsScreen::activate(bool first_time)
{
    const Values v = store_.load ? store_.load() : Values{};
    alert_.set_checked(v.message_alert);
    offline_.set_checked(v.show_offline_friends);
    holler_.set_checked(v.allow_holler);
    VirtualDialog::activate(first_time);
}

intptr_t FriendsSettingsScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    return save_or_cancel(*root(), message, StringId::FRIENDS_SETTINGS_SAVED, [this] {
        if (store_.save)
            store_.save(Values{alert_.checked(), offline_.checked(), holler_.checked()});
    });
}

} // namespace vokar::ui
