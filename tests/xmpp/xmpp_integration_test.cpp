// Two real clients against a real XMPP server on loopback (ours, or the one
// VOKAR_TEST_XMPP names).

#include "tests/xmpp/live_client.h"

namespace vokar {
namespace {

using test::LiveClient;

class XmppIntegration : public test::LiveXmppTest {};

TEST_F(XmppIntegration, AWrongPasswordIsRefused)
{
    EXPECT_FALSE(alice_->log_in("not-the-password"));
    EXPECT_TRUE(alice_->wait_for([](int code, const JabberEvent& e) {
        return code == kEventAuthentication && e.result == kAuthenticationFailed;
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

TEST_F(XmppIntegration, ARejectedRequestIsNotOfferedAgainAtTheNextLogin)
{
    ASSERT_TRUE(alice_->log_in());
    ASSERT_TRUE(bob_->log_in());
    forget_each_other(*alice_, *bob_);
    const auto asks = [&](int code, const JabberEvent& e) {
        return code == kEventPresence && !e.updates.empty() && e.updates[0].jid == alice_->jid() &&
               e.updates[0].status == kStatusPending;
    };
    (*alice_)->addContact(kNetworkService, bob_->user(), "", "");
    ASSERT_TRUE(bob_->wait_for(asks));
    (*bob_)->rejectContact(alice_->jid());
    ASSERT_TRUE(bob_->sync());
    (*bob_)->logout();

    bob_ = std::make_unique<LiveClient>(server_, server_.accounts()[1], reactor_);
    ASSERT_TRUE(bob_->log_in());
    // The server offers stored requests when the initial presence arrives,
    // before it answers the requests sent after it.
    ASSERT_TRUE(bob_->sync());
    EXPECT_EQ(bob_->count(asks), 0u) << bob_->history();
}

TEST_F(XmppIntegration, TypingNotificationsRaiseChatStates)
{
    befriend();
    alice_->send_raw("<message to='" + bob_->jid() +
                     "' type='chat'><x xmlns='jabber:x:event'>"
                     "<composing/></x></message>");
    EXPECT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatState && e.jid == alice_->jid() &&
               e.chat_state == kChatStateComposing;
    }));
    alice_->send_raw("<message to='" + bob_->jid() +
                     "' type='chat'><paused "
                     "xmlns='http://jabber.org/protocol/chatstates'/></message>");
    EXPECT_TRUE(bob_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatState && e.jid == alice_->jid() &&
               e.chat_state == kChatStateStopped;
    }));
}

TEST_F(XmppIntegration, ASecondResourceGoingAwayLeavesTheFirstShown)
{
    befriend();
    LiveClient second(server_, server_.accounts()[0], reactor_);
    ASSERT_TRUE(second.log_in());
    second->setStatus(kStatusAway);
    // The away presence reached bob before either answer.
    ASSERT_TRUE(second.sync() && bob_->sync());
    const auto reports_of_alice = [&] {
        return bob_->count([&](int code, const JabberEvent& e) {
            return code == kEventPresence && !e.updates.empty() &&
                   e.updates.back().jid == alice_->jid();
        });
    };
    ASSERT_TRUE(bob_->last_update(alice_->jid()));
    EXPECT_EQ(bob_->last_update(alice_->jid())->status, kStatusAvailable);
    const size_t before = reports_of_alice();
    second->logout();
    ASSERT_TRUE(bob_->wait_for([&](int, const JabberEvent&) {
        return reports_of_alice() > before;
    })) << "the second resource's unavailable presence";
    EXPECT_EQ(bob_->last_update(alice_->jid())->status, kStatusAvailable)
        << "alice's first resource is still shown";
}

TEST_F(XmppIntegration, StoppingTheServerEndsTheConnection)
{
    if (!server_.can_stop())
        GTEST_SKIP() << "the server is not ours to stop";
    ASSERT_TRUE(alice_->log_in());
    server_.stop();
    EXPECT_TRUE(
        alice_->wait_for([](int code, const JabberEvent&) { return code == kEventDisconnected; }));
    EXPECT_FALSE((*alice_)->connected());
}

} // namespace
} // namespace vokar
