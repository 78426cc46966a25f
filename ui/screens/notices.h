#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "platform/window.h"
#include "ui/label.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class MainScreens;

// "Accept this person as your friend?" for a pending friend request: Yes
// accepts the friend, No rejects the request.
class FriendRequestScreen : public VirtualDialog {
public:
    static constexpr int kText = 3901;
    explicit FriendRequestScreen(MainScreens& hub);
    void ask(const std::wstring& jid, const std::wstring& name);
    intptr_t handle_message(const platform::Message& message) override;
    const std::wstring& jid() const { return jid_; }

private:
    MainScreens& hub_;
    std::wstring jid_;
    std::wstring name_;
};

// The notices shown whatever screen is current: friend requests and their
// answers, hollered friends coming online, Hollers received and answered,
// the service's own messages, gateway errors and the first-login import
// question. GUI thread.
class Notices {
public:
    explicit Notices(MainScreens& hub);
    // A result when the message was a notice that concerns no screen.
    std::optional<intptr_t> handle_event(const platform::Message& message);
    FriendRequestScreen& request_screen() { return request_; }
    // The network whose gateway a JID belongs to, from its domain's first
    // label; -1 when none.
    static int gateway_network(const std::wstring& jid);

private:
    // Asks about the next pending request not asked about yet.
    void ask_next_request();
    void show(const std::wstring& text);

    MainScreens& hub_;
    FriendRequestScreen& request_;
    std::set<std::wstring> asked_; // JIDs whose request was asked about
};

} // namespace vokar::ui
