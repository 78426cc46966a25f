#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

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
    // The main screen became current: the notices that waited for it are
    // shown now.
    void main_screen_shown();
    // The request of `jid` was answered: a later one is asked about again.
    void request_answered(const std::wstring& jid) { asked_.erase(jid); }
    // The network whose gateway a JID belongs to, from its domain's first
    // label; -1 when none.
    static int gateway_network(const std::wstring& jid);

private:
    // Asks about the next pending request not asked about yet.
    void ask_next_request();
    void show(const std::wstring& text);
    void ask_import();
    // Notices that push a screen wait until the main screen has been shown
    // and no progress screen is current: the login's progress is replaced
    // by the main screen, which would take them away.
    bool ready() const;
    void when_ready(std::function<void()> notice);

    MainScreens& hub_;
    FriendRequestScreen& request_;
    std::set<std::wstring> asked_; // JIDs whose request was asked about
    bool main_shown_ = false;
    // Notices that arrived during the login, shown over the main screen.
    std::vector<std::function<void()>> deferred_;
};

} // namespace vokar::ui
