#pragma once

#include <functional>
#include <string>

#include "ui/check_box.h"
#include "ui/choice_list.h"
#include "ui/label.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// "Vokar - Settings": ringing volume, international dialing prefix and
// automatic login. Save stores and saves them; Cancel goes back.
class SettingsScreen : public VirtualDialog {
public:
    static constexpr int kRingVolume = 3201;
    static constexpr int kDialingPrefixEdit = 1023;
    static constexpr int kAutologin = 3203;
    static constexpr int kVolumeSteps = 8; // 0 (silent) to 7

    struct Values {
        int ring_volume = 4;
        std::wstring dialing_prefix;
        bool autologin = false;
    };
    struct Store {
        std::function<Values()> load;
        // Stores the values and saves the settings file.
        std::function<void(const Values&)> save;
    };

    explicit SettingsScreen(Store store);
    void activate(bool first_time) override;
    intptr_t handle_message(const platform::Message& message) override;

private:
    Store store_;
    ChoiceList& volume_;
    TextBox& prefix_;
    CheckBox& autologin_;
};

// "Vokar - Friends Settings": the link to the IM accounts and the message
// beep, offline friends and holler flags.
class FriendsSettingsScreen : public VirtualDialog {
public:
    static constexpr int kEditImAccounts = 3211;
    static constexpr int kMessageAlert = 3212;
    static constexpr int kShowOffline = 3213;
    static constexpr int kAllowHoller = 3214;

    struct Values {
        bool message_alert = true;
        bool show_offline_friends = true;
        bool allow_holler = true;
    };
    struct Store {
        std::function<Values()> load;
        std::function<void(const Values&)> save;
        // Opens the IM gateway editor.
        std::function<void()> edit_im_accounts;
    };

    explicit FriendsSettingsScreen(Store store);
    void activate(bool first_time) override;
    intptr_t handle_message(const platform::Message& message) override;

private:
    Store store_;
    Label& link_;
    CheckBox& alert_;
    CheckBox& offline_;
    CheckBox& holler_;
};

} // namespace vokar::ui
