#pragma once

#include <string>
#include <vector>

#include "core/friends_model.h"
#include "ui/chat_view.h"
#include "ui/label.h"
#include "ui/list_view.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class MainScreens;

// "Vokar - Full Screen Chat": one friend's transcript and the input line;
// Send sends, Back returns.
class FullScreenChatScreen : public VirtualDialog {
public:
    static constexpr int kChat = 3601;
    static constexpr int kInputEdit = 1024;
    explicit FullScreenChatScreen(MainScreens& hub);
    void open(const std::wstring& jid, const std::wstring& name);
    intptr_t handle_message(const platform::Message& message) override;
    // The transcript may have grown.
    void refresh() { chat_.invalidate(); }
    const std::wstring& jid() const { return jid_; }

private:
    void send();

    MainScreens& hub_;
    Label& name_;
    ChatView& chat_;
    TextBox& input_;
    std::wstring jid_;
};

// "Vokar - Friend Details": name, address, network and presence.
class FriendDetailsScreen : public VirtualDialog {
public:
    static constexpr int kName = 3611;
    static constexpr int kAddress = 3612;
    static constexpr int kNetwork = 3613;
    static constexpr int kPresence = 3614;
    FriendDetailsScreen();
    void show(const Friend& f);
    intptr_t handle_message(const platform::Message& message) override;

private:
    Label& caption_;
    Label& name_;
    Label& address_;
    Label& network_;
    Label& presence_;
};

// "Vokar - Add Friend" for one network: its caption, the address field with
// the network's label, the subscription request on Add Friend.
class AddFriendScreen : public VirtualDialog {
public:
    static constexpr int kCaption = 3621;
    static constexpr int kAddressEdit = 1025;
    static constexpr int kMenu = 132;
    static constexpr int kMenuFromList = 133;
    explicit AddFriendScreen(MainScreens& hub);
    // Shows the screen for `network` with an empty field.
    void open(int network, int menu = kMenu);
    intptr_t handle_message(const platform::Message& message) override;
    int network() const { return network_; }

private:
    void add_friend();

    MainScreens& hub_;
    Label& caption_;
    TextBox& address_;
    int network_ = 5;
};

// "Vokar - Holler": the senders of the Hollers received, or a notice under
// the title "Holler"; Chat opens the chat with the selected sender.
class HollerScreen : public VirtualDialog {
public:
    static constexpr int kHeading = 3631;
    static constexpr int kSenders = 3632;
    explicit HollerScreen(MainScreens& hub);
    void show_senders(const std::vector<std::wstring>& senders);
    void show_notice(const std::wstring& text);
    intptr_t handle_message(const platform::Message& message) override;

private:
    MainScreens& hub_;
    Label& heading_;
    ListView& senders_;
    std::vector<std::wstring> jids_;
};

} // namespace vokar::ui
