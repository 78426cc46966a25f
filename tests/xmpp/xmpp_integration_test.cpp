// Two real clients against a real XMPP server on loopback (ours, or the one
// VOKAR_TEST_XMPP names).

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "net/connection_interface.h"
#include "tests/support/xmpp_server.h"
#include "xmpp/jabber_client.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;
using test::XmppAccount;
using test::XmppServer;

const std::string kTagline = "( www.vokar.test - talk for free )";

// A logged-in client with everything it raised recorded.
class LiveClient : public JabberListener {
public:
    LiveClient(XmppServer& server, const XmppAccount& account, Reactor& reactor)
        : server_(server), account_(account)
    {
        client_ = std::make_unique<JabberClient>(server.domain(), "wm", "2.2", reactor);
        client_->addListener(this);
    }
    ~LiveClient() override { client_.reset(); }

    void onJabberEvent(int code, const JabberEvent* event) override
    {
        std::lock_guard lock(mutex_);
        events_.push_back({code, event ? *event : JabberEvent{}});
        cv_.notify_all();
        if (code == kEventConnected)
            connected_ = true;
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
        return wait_for([](int code, const JabberEvent&) { return code == kEventRosterLoaded; }, 0ms);
    }

    // Waits until some recorded event (from `from` on) satisfies `match`.
    bool wait_for(const std::function<bool(int, const JabberEvent&)>& match,
                  std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] {
            for (const auto& [code, event] : events_)
                if (match(code, event))
                    return true;
            return false;
        });
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

    void clear_events()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    // Sends a stanza the client itself never sends, on its own stream.
    void send_raw(const std::string& stanza) { raw_->send(stanza); }

    JabberClient& operator*() { return *client_; }
    JabberClient* operator->() { return client_.get(); }
    std::string jid() const { return account_.user + "@" + server_.domain(); }

private:
    XmppServer& server_;
    XmppAccount account_;
    std::unique_ptr<JabberClient> client_;
    ConnectionInterface* raw_ = nullptr;
    // Recursive: a wait's condition may itself read the events.
    std::recursive_mutex mutex_;
    std::condition_variable_any cv_;
    std::vector<std::pair<int, JabberEvent>> events_;
    bool connected_ = false;
};

class XmppIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.start()) << server_.error() << server_.log();
        alice_ = std::make_unique<LiveClient>(server_, server_.accounts()[0], reactor_);
        bob_ = std::make_unique<LiveClient>(server_, server_.accounts()[1], reactor_);
    }

    // Both logged in, each with the other in the roster and subscribed both ways.
    void befriend()
    {
        ASSERT_TRUE(alice_->log_in());
        ASSERT_TRUE(bob_->log_in());
        // Start from clean rosters: accounts of an external server may remember.
        (*alice_)->removeContact(bob_->jid());
        (*bob_)->removeContact(alice_->jid());
        std::this_thread::sleep_for(300ms);
        alice_->clear_events();
        bob_->clear_events();

        (*alice_)->addContact(kNetworkService, server_.accounts()[1].user, "Bob", "");
        ASSERT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
            return code == kEventPresence && !e.updates.empty() && e.updates[0].jid == alice_->jid() &&
                   e.updates[0].status == kStatusPending;
        })) << "bob sees alice's request";
        (*bob_)->acceptContact(alice_->jid(), "Alice", "");
        ASSERT_TRUE(alice_->wait_for([&](int, const JabberEvent&) {
            auto u = alice_->last_update(bob_->jid());
            return u && u->status == kStatusAvailable;
        })) << "alice sees bob available";
        ASSERT_TRUE(bob_->wait_for([&](int, const JabberEvent&) {
            auto u = bob_->last_update(alice_->jid());
            return u && u->status == kStatusAvailable;
        })) << "bob sees alice available";
    }

    platform::ManualClock keep_alive_clock_;
    Reactor reactor_{keep_alive_clock_, false};
    XmppServer server_;
    std::unique_ptr<LiveClient> alice_, bob_;
};

TEST_F(XmppIntegration, TwoClientsLogInWithDigestMd5)
{
    ASSERT_TRUE(alice_->log_in());
    ASSERT_TRUE(bob_->log_in());
    EXPECT_TRUE((*alice_)->authenticated());
    EXPECT_EQ((*alice_)->full_jid(), alice_->jid() + "/" + (*alice_)->resource());
    EXPECT_EQ((*alice_)->resource().rfind("Vokar_WM_J_", 0), 0u);
}

TEST_F(XmppIntegration, AWrongPasswordIsRefused)
{
    EXPECT_FALSE(alice_->log_in("not-the-password"));
    EXPECT_TRUE(alice_->wait_for([](int code, const JabberEvent& e) {
        return code == kEventAuthentication && e.result == 1;
    }));
}

TEST_F(XmppIntegration, FriendsSeeEachOtherAndChat)
{
    befriend();
    (*alice_)->setStatusText("Lunch");
    EXPECT_TRUE(bob_->wait_for([&](int, const JabberEvent&) {
        auto u = bob_->last_update(alice_->jid());
        return u && u->status_text == "Lunch ";
    })) << "the tagline is removed";

    (*alice_)->sendMessage(bob_->jid(), "hi bob & co <3");
    EXPECT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatMessage && e.jid == alice_->jid() && e.text == "hi bob & co <3";
    }));
    (*bob_)->sendMessage(alice_->jid() + "/" + (*alice_)->resource(), "hello alice");
    EXPECT_TRUE(alice_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatMessage && e.jid == bob_->jid() && e.text == "hello alice";
    }));
}

TEST_F(XmppIntegration, TypingNotificationsRaiseChatStates)
{
    befriend();
    alice_->send_raw("<message to='" + bob_->jid() + "' type='chat'><x xmlns='jabber:x:event'>"
                     "<composing/></x></message>");
    EXPECT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatState && e.jid == alice_->jid() && e.chat_state == 1;
    }));
    alice_->send_raw("<message to='" + bob_->jid() + "' type='chat'><paused "
                     "xmlns='http://jabber.org/protocol/chatstates'/></message>");
    EXPECT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatState && e.jid == alice_->jid() && e.chat_state == 2;
    }));
}

TEST_F(XmppIntegration, ASecondResourceGoingAwayLeavesTheFirstShown)
{
    befriend();
    LiveClient second(server_, server_.accounts()[0], reactor_);
    ASSERT_TRUE(second.log_in());
    second->setStatus(kStatusAway);
    ASSERT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventPresence && !e.updates.empty() && e.updates.back().jid == alice_->jid();
    }));
    second->logout();
    EXPECT_TRUE(bob_->wait_for([&](int, const JabberEvent&) {
        auto u = bob_->last_update(alice_->jid());
        return u && u->status == kStatusAvailable;
    })) << "alice's first resource is still available";
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(bob_->last_update(alice_->jid()));
    EXPECT_EQ(bob_->last_update(alice_->jid())->status, kStatusAvailable);
}

TEST_F(XmppIntegration, StoppingTheServerEndsTheConnection)
{
    if (!server_.can_stop())
        GTEST_SKIP() << "the server is not ours to stop";
    ASSERT_TRUE(alice_->log_in());
    server_.stop();
    EXPECT_TRUE(alice_->wait_for([](int code, const JabberEvent&) { return code == kEventDisconnected; }));
    EXPECT_FALSE((*alice_)->connected());
}

}  // namespace
}  // namespace vokar
