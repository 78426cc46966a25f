#pragma once

#include <cstdint>
#include <string>

#include "base/messages.h"
#include "base/strings.h"

namespace vokar {

struct JabberEvent;
struct PresenceUpdate;

// What the application core shows on the screens; the user interface
// implements it. Every operation may be called from any thread (the phones'
// receive and login threads above all); implementations reach the GUI thread
// through window messages.
class ControllerUi {
public:
    virtual ~ControllerUi() = default;

    // Window messages for the screens (FriendsListChanged to the friends
    // screen, the others to the event window). A sent message returns once
    // the GUI thread has handled it, so its parameter may point at the
    // sender's data:
    //   ServiceMessage, HollerAnswered: const std::string* (UTF-8)
    //   HollerFriendOnline: const std::wstring* (display name)
    //   HollersRetrieved: const std::vector<std::string>* (senders)
    //   GatewayMessageFailed: const JabberEvent*, or 0 once the roster has
    //   loaded
    // A posted message carries no pointer.
    virtual intptr_t send_message(MessageCode code, uintptr_t wparam) = 0;
    virtual void post_message(MessageCode code, uintptr_t wparam) = 0;

    // The progress screen with this text.
    virtual void show_progress(StringId text) = 0;
    // The shared message screen; an ERROR_TITLE message is shown as an error.
    virtual void show_message(StringId text, StringId title) = 0;
    virtual void show_message(const std::wstring& text, StringId title) = 0;
    virtual void show_main_screen() = 0;
    // First login: asks IMPORT_IM_ACCOUNTS_QUESTION under IMPORT_IM_ACCOUNTS_TITLE;
    // Yes opens the gateway editor.
    virtual void ask_import_accounts() = 0;

    // Whether the progress screen is the current screen.
    virtual bool progress_screen_current() = 0;
    // The new-version screen for a version notice.
    virtual void show_new_version(const JabberEvent& event) = 0;
    // True while the network monitor probes which transports reach the
    // operator (up to about 30 s where direct paths are silently dropped):
    // the login screen's footer says the network is being checked. False
    // once the probe has ended.
    virtual void show_network_check(bool /*checking*/) {}

    // Each chat message from a friend (sender's bare JID, UTF-8 text) and
    // each roster or presence update, as they arrive. The screens read the
    // friends model instead; the headless client reports them one by one.
    virtual void chat_received(const std::string& /*from*/, const std::string& /*text*/) {}
    virtual void presence_received(const PresenceUpdate& /*update*/) {}
};

} // namespace vokar
