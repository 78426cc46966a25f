#pragma once

// A real client against a real XMPP server on loopback, recording every
// event it raises; tests wait on those events.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/reactor.h"
#include "net/connection_interface.h"
#include "tests/support/xmpp_server.h"
#include "xmpp/jabber_client.h"

namespace vokar::test {

using namespace std::chrono_literals;

// A logged-in client with everything it raised recorded.
class LiveClient : public JabberListener {
public:
    using Match = std::function<bool(int, const JabberEvent&)>;

    LiveClient(const XmppServer& server, const XmppAccount& account, Reactor& reactor,
               JabberClient::Options options = {})
        : server_(server), account_(account)
    {
        client_ = std::make_unique<JabberClient>(server.domain(), "wm", "2.2", reactor,
                                                 std::move(options));
        client_->addListener(this);
    }
    ~LiveClient() override { client_.reset(); }

    void onJabberEvent(int code, const JabberEvent* event) override
    {
        std::lock_guard lock(mutex_);
        events_.push_back({code, event ? *event : JabberEvent{}});
        cv_.notify_all();
    }

    // Connects and logs in; true once the roster has loaded.
    bool log_in(std::string password = {})
    {
        auto connection = std::make_unique<ConnectionInterface>("", true, false, nullptr, nullptr,
                                                                TunnelServer{});
        raw_ = connection.get();
        client_->connect(std::move(connection), server_.host(), server_.port(), 0);
        if (!wait_for([](int code, const JabberEvent&) { return code == kEventConnected; }))
            return false;
        client_->login(account_.user, password.empty() ? account_.password : password);
        wait_for([](int code, const JabberEvent& e) {
            return code == kEventRosterLoaded || (code == kEventAuthentication && e.result != 0);
        });
        return wait_for([](int code, const JabberEvent&) { return code == kEventRosterLoaded; },
                        0ms);
    }

    // Waits until some recorded event satisfies `match`.
    bool wait_for(const Match& match, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] {
            for (const auto& [code, event] : events_)
                if (match(code, event))
                    return true;
            return false;
        });
    }

    size_t count(const Match& match)
    {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& [code, event] : events_)
            n += match(code, event) ? 1 : 0;
        return n;
    }

    // The last recorded event with this code.
    std::optional<JabberEvent> last(int code)
    {
        std::lock_guard lock(mutex_);
        for (auto it = events_.rbegin(); it != events_.rend(); ++it)
            if (it->first == code)
                return it->second;
        return std::nullopt;
    }

    // The last presence update reported for `jid`.
    std::optional<PresenceUpdate> last_update(const std::string& jid)
    {
        std::lock_guard lock(mutex_);
        std::optional<PresenceUpdate> last;
        for (const auto& [code, event] : events_)
            if (code == kEventPresence)
                for (const auto& u : event.updates)
                    if (u.jid == jid && !u.in_roster)
                        last = u;
        return last;
    }

    // Waits until a presence update reports `jid` with `status`.
    bool wait_for_status(const std::string& jid, int status)
    {
        return wait_for([&](int code, const JabberEvent& e) {
            if (code != kEventPresence)
                return false;
            for (const auto& u : e.updates)
                if (u.jid == jid && u.status == status)
                    return true;
            return false;
        });
    }

    // True once a roster item for `jid` has been reported.
    bool wait_for_roster_item(const std::string& jid, std::chrono::milliseconds limit = 10s)
    {
        return wait_for(
            [&](int code, const JabberEvent& e) {
                if (code != kEventPresence)
                    return false;
                for (const auto& u : e.updates)
                    if (u.in_roster && u.jid == jid)
                        return true;
                return false;
            },
            limit);
    }

    // Asks for the stored Hollers and waits for the answer (kEventHollers). The
    // server answers in order, so whatever it was sent before has been
    // answered too. Collects (and so clears) the user's Hollers.
    std::optional<std::vector<std::string>> retrieve_hollers()
    {
        const auto is_hollers = [](int code, const JabberEvent&) { return code == kEventHollers; };
        const size_t before = count(is_hollers);
        client_->retrieveHollers();
        if (!wait_for([&](int, const JabberEvent&) { return count(is_hollers) > before; }))
            return std::nullopt;
        return last(kEventHollers)->items;
    }

    // A round trip: the server answers in order, so everything this client
    // sent before has been handled, and what that sent to this client has
    // arrived. Collects (and so clears) the user's Hollers; any server
    // answers, if only with an error.
    bool sync() { return retrieve_hollers().has_value(); }

    // Waits until the answers to everything the client sent at login, and to
    // the requests those answers drew (the transports' disco#info), are in.
    bool settle() { return sync() && sync(); }

    // The recorded events, for failure messages: "code[ jid status]" each.
    std::string history()
    {
        std::lock_guard lock(mutex_);
        std::string text;
        for (const auto& [code, event] : events_) {
            text += " " + std::to_string(code);
            for (const auto& u : event.updates)
                text += "[" + u.jid + " " + std::to_string(u.status) +
                        (u.in_roster ? " roster" : "") + "]";
        }
        return text;
    }

    void clear_events()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    // Sends a stanza the client itself never sends, on its own stream.
    void send_raw(const std::string& stanza) { raw_->send(stanza); }

    JabberClient& operator*() { return *client_; }
    JabberClient* operator->() { return client_.get(); }
    const std::string& user() const { return account_.user; }
    std::string jid() const { return account_.user + "@" + server_.domain(); }

private:
    const XmppServer& server_;
    XmppAccount account_;
    std::unique_ptr<JabberClient> client_;
    ConnectionInterface* raw_ = nullptr;
    // Recursive: a wait's condition may itself read the events.
    std::recursive_mutex mutex_;
    std::condition_variable_any cv_;
    std::vector<std::pair<int, JabberEvent>> events_;
};

} // namespace vokar::test
