#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "account/call_log.h"
#include "account/device_contacts.h"
#include "base/strings.h"
#include "core/friends_model.h"
#include "ui/animated_control.h"
#include "ui/list_view.h"
#include "ui/paged_screen.h"
#include "ui/screens/chat_log.h"
#include "ui/screens/friends_service.h"
#include "ui/text_box.h"

namespace vokar::ui {

class MainScreens;

// The Contacts page: the device's contacts, one row per number; "No data"
// until the store has loaded.
class ContactsPage : public VirtualDialog {
public:
    static constexpr int kList = 3501;
    explicit ContactsPage(MainScreens& hub);
    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;
    // Reads the store again (it became ready).
    void refresh();
    // The selected row's number; empty when none or the contact has none.
    std::wstring selected_number() const;

private:
    MainScreens& hub_;
    ListView& list_;
    std::vector<std::wstring> numbers_; // per row
    bool loaded_ = false;
};

// The Call History page: the built history, newest first, with an icon per
// call type; calls added later come on top.
class HistoryPage : public VirtualDialog {
public:
    static constexpr int kList = 3502;
    explicit HistoryPage(MainScreens& hub);
    intptr_t handle_message(const platform::Message& message) override;
    void set_history(std::vector<CallLogEntry> entries);
    // A call just logged: on top, replacing an earlier row of its number.
    void call_added(const CallLogEntry& entry);
    std::wstring selected_number() const;

private:
    void show();

    MainScreens& hub_;
    ListView& list_;
    std::vector<CallLogEntry> entries_;
};

// The friends list with presence icons and the selected friend's inline
// chat; with no row to show, an animated status text instead.
class FriendsList : public AnimatedControl {
public:
    static constexpr int kRowHeight = 24;
    static constexpr int kStatusTextHeight = 12;
    static constexpr int kChatHeight = 60;
    static constexpr uint32_t kAnimationMs = 600;

    FriendsList(int id, MainScreens& hub);
    ControlKind kind() const override { return ControlKind::ListView; }
    int preferred_height() const override { return 0; }
    void paint(platform::Canvas& canvas, bool focused) override;
    void describe(ControlView& view) const override;
    // The text painted when no friend is shown, by the connection's state.
    std::wstring empty_text() const;
    // Starts the animation while the list is empty, stops it otherwise.
    void refresh();

private:
    MainScreens& hub_;
};

// The Friends page: menu 103's commands on the selected friend, presence,
// adding friends and gateways.
class FriendsPage : public VirtualDialog {
public:
    static constexpr int kList = 3503;
    static constexpr int kChatEdit = 1030;
    explicit FriendsPage(MainScreens& hub);
    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;
    void layout(const platform::Rect& client) override;
    // The friends or their messages changed.
    void refresh();
    FriendsList& list() { return list_; }
    // Runs a command of menu 103; false when it is not one of them.
    bool command(uint16_t command);

private:
    std::optional<Friend> selected_friend();
    void send();
    void holler(const Friend& f);
    void call_selected();

    MainScreens& hub_;
    FriendsList& list_;
    TextBox& input_;
};

// The main screen: Contacts, Call History and Friends, switched with Left
// and Right; the main menu's common commands.
class MainScreen : public PagedScreen {
public:
    explicit MainScreen(MainScreens& hub);
    void activate(bool first_time) override;
    ContactsPage& contacts() { return contacts_; }
    HistoryPage& history() { return history_; }
    FriendsPage& friends() { return friends_; }
    // Shows this page (0 Contacts, 1 Call History, 2 Friends).
    void show(size_t page) { show_page(page); }

private:
    MainScreens& hub_;
    ContactsPage& contacts_;
    HistoryPage& history_;
    FriendsPage& friends_;
};

class DialerScreen;
class FullScreenChatScreen;
class FriendDetailsScreen;
class AddFriendScreen;
class ContactsPicker;
class EditGatewaysScreen;
class EditGatewayScreen;
class HollerScreen;
class EntryScreen;
class QuestionScreen;
class Notices;

// The main screen and every screen reached from it, registered with the
// root together, with what they share: the core's friends model and
// actions, the device contacts, the chat transcripts. It also loads the
// contacts and builds the call history on a worker thread, and hands the
// global notices to Notices.
class MainScreens {
public:
    struct Actions {
        std::function<void()> hide;
        // Commands the screens leave to the client: Check Balance, Settings,
        // About, Friends Settings.
        std::function<void(uint16_t)> other;
        // Send SMS and Invite with a number (possibly empty).
        std::function<void(const std::wstring& number)> send_sms;
        std::function<void(const std::wstring& number)> invite;
    };
    struct Deps {
        FriendsService& service;
        FriendsModel& friends;
        DeviceContacts& contacts;
        // Null: no history (the page stays empty).
        CallLog* call_log = nullptr;
        CellularCallLog* cellular = nullptr;
        EntryScreen& entry;
        QuestionScreen& question;
        Actions actions;
    };

    MainScreens(UiRoot& root, Deps deps);
    // Stops the loading thread first if stop() was not called.
    ~MainScreens();
    MainScreens(const MainScreens&) = delete;
    MainScreens& operator=(const MainScreens&) = delete;

    // Starts loading the contacts and building the history (once).
    void start_loading();
    // Waits for the loading thread and stops listening to the call log;
    // before the call log or the contacts go.
    void stop();

    // The dialog's messages before the current screen's: controller events
    // and the loading thread's results. A result when it handled one.
    std::optional<intptr_t> handle_event(const platform::Message& message);

    UiRoot& root() { return root_; }
    FriendsService& service() { return deps_.service; }
    FriendsModel& friends() { return deps_.friends; }
    DeviceContacts& contacts() { return deps_.contacts; }
    ChatLog& chats() { return chats_; }
    const Actions& actions() const { return deps_.actions; }
    EntryScreen& entry() { return deps_.entry; }
    QuestionScreen& question() { return deps_.question; }

    MainScreen& main() { return *main_; }
    DialerScreen& dialer() { return *dialer_; }
    FullScreenChatScreen& chat() { return *chat_; }
    FriendDetailsScreen& details() { return *details_; }
    AddFriendScreen& add_friend() { return *add_friend_; }
    ContactsPicker& picker() { return *picker_; }
    EditGatewaysScreen& gateways() { return *gateways_; }
    EditGatewayScreen& gateway() { return *gateway_; }
    HollerScreen& holler() { return *holler_; }
    Notices& notices() { return *notices_; }

    // The main menu's common commands (Hide, Exit Vokar, and those the client
    // handles); false when `command` is none of them.
    bool common_command(uint16_t command, const std::wstring& number);
    // Dial (or Talk) calls `number`, or shows `no_number` when there is none;
    // the other commands are the common ones; a digit opens the dialer.
    // Nothing for any other message.
    std::optional<intptr_t> number_list_message(const platform::Message& message,
                                                const std::wstring& number, StringId no_number);
    // Error and information messages on the shared message screen.
    void error(StringId text);
    void info(const std::wstring& text);
    // Brings the friends model's messages into the transcripts.
    void sync_chats();
    // Marks read the chat the user sees: the selected friend's on the
    // Friends page, or the one in Full Screen Chat.
    void mark_shown_chat_read();
    // Whether the network's gateway is registered. The core only ever adds
    // to its list of registered gateways, so the ones disabled here count as
    // off until they are registered again.
    bool gateway_enabled(int network);
    void register_gateway(int network, const std::wstring& user, const std::wstring& password);
    void unregister_gateway(int network);

private:
    class Loader;

    UiRoot& root_;
    Deps deps_;
    ChatLog chats_;
    std::set<int> disabled_gateways_;
    MainScreen* main_ = nullptr;
    DialerScreen* dialer_ = nullptr;
    FullScreenChatScreen* chat_ = nullptr;
    FriendDetailsScreen* details_ = nullptr;
    AddFriendScreen* add_friend_ = nullptr;
    ContactsPicker* picker_ = nullptr;
    EditGatewaysScreen* gateways_ = nullptr;
    EditGatewayScreen* gateway_ = nullptr;
    HollerScreen* holler_ = nullptr;
    std::unique_ptr<Notices> notices_;
    std::unique_ptr<Loader> loader_;
};

// The network names, gateway captions and icons of the IM networks.
StringId network_name(int network);
std::optional<StringId> gateway_caption(int network);
int network_icon(int network);
int presence_icon(int status);
StringId presence_text(int status);

} // namespace vokar::ui
