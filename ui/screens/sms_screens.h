#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/label.h"
#include "ui/text_box.h"
#include "ui/ui_timers.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class UiRoot;

// Puts a picked contact's number into a field; the picker calls it on the GUI thread.
using ContactPicked = std::function<void(const std::wstring& number)>;
// Opens the contacts picker, which hands the chosen number to the callback.
using PickContact = std::function<void(ContactPicked)>;

// The SMS counter: "[n/160](1)" up to 160 characters; above that the message
// goes in parts of 153 characters: "[n/153k](k)" with k = n / 153 rounded up.
std::wstring sms_counter(size_t characters);

// "Vokar - Send SMS": the recipient ("To: ") and the message with its
// counter. Send checks both and starts the request, whose success empties
// both fields; a failure keeps them. The soft keys follow the focus: menu
// 142 on the recipient, 108 on the message.
class SendSmsScreen : public VirtualDialog {
public:
    static constexpr int kRecipientEdit = 1037;
    static constexpr int kMessageEdit = 1026;
    static constexpr int kCounter = 3601;
    static constexpr int kRecipientMenu = 142;
    static constexpr int kMessageMenu = 108;
    // Holding the action key longer than this in the recipient opens the picker.
    static constexpr uint32_t kHoldMs = 500;

    struct Actions {
        // Starts the SMS request; `on_sent` may run on any thread, when the
        // service has taken the message.
        std::function<void(const std::wstring& recipient, const std::wstring& message,
                           std::function<void()> on_sent)>
            send;
        PickContact pick_contact;
        // Check Balance and Hide.
        std::function<void(uint16_t)> other;
    };

    explicit SendSmsScreen(Actions actions);
    // Shows the screen with the number typed on the dialer (kept when empty).
    void show(const std::wstring& number);
    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;
    void paint(platform::Canvas& canvas) override;

    const std::wstring& recipient() const { return recipient_.text(); }
    const std::wstring& message() const { return message_.text(); }

private:
    void send();
    void pick_contact();
    // The counter from the message, the soft keys from the focus.
    void update();
    void stop_hold();

    Actions actions_;
    TextBox& recipient_;
    TextBox& message_;
    Label& counter_;
    UiTimers::Id hold_ = 0;
};

// "Invite a friend": the friend's mobile number; Send invitation starts the
// invitation request.
class InviteScreen : public VirtualDialog {
public:
    static constexpr int kNumberEdit = 1038;

    struct Actions {
        std::function<void(const std::wstring& number)> invite;
        PickContact pick_contact;
    };

    explicit InviteScreen(Actions actions);
    // Shows the screen with the number typed on the dialer (kept when empty).
    void show(const std::wstring& number);
    intptr_t handle_message(const platform::Message& message) override;

private:
    Actions actions_;
    TextBox& number_;
};

} // namespace vokar::ui
