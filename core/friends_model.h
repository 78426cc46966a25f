#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/window.h"

namespace vokar {

class SettingsStore;

struct FriendMessage {
    bool received = true;
    std::wstring text;
};

struct Friend {
    std::wstring name;
    std::wstring display_name; // short name and ": ", written before the friend's chat lines
    std::wstring status_text;  // without the service's tagline
    std::wstring jid;          // bare JID: the key
    int status = 4;
    int network = 5;
    bool has_unread = false;
    bool is_new = false;
    bool chat_only = false;              // the friend's client offers chat but not voice
    std::vector<FriendMessage> messages; // the last 30 received
};

// The friends list the screens show: every contact that roster and presence
// report, the shown subset in order, the selection and scroll position, and
// each friend's last messages. Every change is announced with FriendsModelChanged
// to the registered windows, after the lists are unlocked.
class FriendsModel {
public:
    static constexpr size_t kMaxMessages = 30;

    struct Config {
        std::wstring web_host_name = L"www.vokar.test";
        std::string service_domain = "vokar.test";
        // Names a number from the device's contacts; empty when unknown.
        std::function<std::wstring(const std::wstring& number)> contact_name;
    };

    FriendsModel(const SettingsStore& settings, Config config);
    FriendsModel(const FriendsModel&) = delete;
    FriendsModel& operator=(const FriendsModel&) = delete;

    void addWindow(platform::Window window);

    // Feeds (XMPP receive thread).
    void onRosterItem(const std::wstring& jid, const std::wstring& name, int status);
    void onPresence(const std::wstring& jid, const std::wstring& status_text, int status);
    void remove(const std::wstring& jid);
    void removeNetwork(int network);
    void clear();
    void setAllOffline();
    void onMessage(const std::wstring& jid, const std::wstring& text);
    // The user has seen this friend's chat (GUI thread): its unread mark
    // goes. The order and the shown subset follow at the next change, so
    // that the friend being read does not move or vanish under the user.
    void markRead(const std::wstring& jid);

    // Selection (GUI thread).
    void selectPrevious();
    void selectNext();
    void select(int index);
    void setViewHeight(int pixels);

    // Reads: copies taken under the lock.
    std::optional<Friend> find(const std::wstring& jid);
    std::optional<Friend> friendAt(int index);
    int shownCount();
    // Every known contact, shown or not.
    int count();
    int selected();
    int firstShown();
    int rowsShown();

    // Short name and ": " for a chat line.
    static std::wstring display_name_for(const std::wstring& name);
    // The network a contact's JID belongs to, from its domain.
    int network_of(const std::wstring& jid) const;

private:
    // Lock held. The selected friend's JID, or empty.
    std::wstring selected_jid() const;
    // Lock held. Sorts, rebuilds the shown list and selects `selected_jid`
    // again (after the first move), read before the friends changed.
    void sort_and_rebuild(const std::wstring& selected_jid);
    void move_selection(int delta);
    void notify();
    Friend make_friend(const std::wstring& jid, std::wstring name, int status) const;
    std::wstring strip_tagline(std::wstring text, bool* chat_only, bool* changed) const;

    const SettingsStore& settings_;
    const Config config_;
    platform::NamedMutex mutex_;
    std::vector<Friend> all_;
    std::vector<size_t> shown_; // indices into all_
    int selected_ = -1;
    int first_shown_ = 0;
    int view_height_ = 0;
    int rows_shown_ = 0;
    bool first_move_ = true;

    std::mutex windows_mutex_;
    std::vector<platform::Window> windows_;
};

} // namespace vokar
