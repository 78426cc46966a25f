// Calls between two real clients through a real XMPP server on loopback
// (ours, or the one VOKAR_TEST_XMPP names): the server routes the Jingle iqs
// between the full JIDs unchanged.

#include "tests/xmpp/live_client.h"

namespace vokar {
namespace {

using test::LiveClient;

class JingleIntegration : public test::LiveXmppTest {
protected:
    static LiveClient::Match is(int code)
    {
        return [code](int c, const JabberEvent&) { return c == code; };
    }

    void register_codecs(LiveClient& client)
    {
        client->registerCodec({97, "speex"});
        client->registerCodec({3, "gsm"});
    }

    // Alice calls bob, bob rings and accepts; both sides see the call accepted.
    void accepted_call()
    {
        befriend();
        register_codecs(*alice_);
        register_codecs(*bob_);
        caller_ = (*alice_)->startCall(
            bob_->jid(), {{"127.0.0.1", "peer", 40000}, {"127.0.0.9", "proxy", 10000}},
            kTransportAddress);
        ASSERT_TRUE(caller_);
        ASSERT_TRUE(bob_->wait_for(is(kEventIncomingCall)));
        callee_ = bob_->last(kEventIncomingCall)->session;
        EXPECT_EQ((*bob_)->payloadIds(callee_), (std::vector<int32_t>{97, 3}));
        const MediaEndpoints offered = (*bob_)->mediaEndpoints(callee_);
        EXPECT_EQ(offered.peer_ip, "127.0.0.1");
        EXPECT_EQ(offered.peer_port, 40000);
        EXPECT_EQ(offered.proxy_port, 10000);

        (*bob_)->sendRinging(callee_);
        ASSERT_TRUE(alice_->wait_for(is(kEventPeerRinging)));
        EXPECT_EQ(alice_->last(kEventPeerRinging)->session, caller_);

        (*bob_)->setLocalAddresses(callee_, {{"127.0.0.2", "peer", 40002}});
        (*bob_)->accept(callee_);
        EXPECT_EQ(bob_->count(is(kEventCallAccepted)), 1u) << "raised by the accept itself";
        ASSERT_TRUE(alice_->wait_for(is(kEventCallAccepted)));
        EXPECT_EQ((*alice_)->payloadIds(caller_), (std::vector<int32_t>{97, 3}));
        const MediaEndpoints answered = (*alice_)->mediaEndpoints(caller_);
        EXPECT_EQ(answered.peer_ip, "127.0.0.2");
        EXPECT_EQ(answered.peer_port, 40002);
    }

    std::shared_ptr<JingleSession> caller_, callee_;
};

TEST_F(JingleIntegration, TheCallerHangsUp)
{
    ASSERT_NO_FATAL_FAILURE(accepted_call());
    (*alice_)->terminate(caller_, kConditionGeneralError);
    ASSERT_TRUE(bob_->wait_for(is(kEventCallEnded)));
    const JabberEvent ended = *bob_->last(kEventCallEnded);
    EXPECT_EQ(ended.session, callee_);
    EXPECT_EQ(ended.text, "general-error");
    EXPECT_EQ((*bob_)->sessionCount(), 0u);
    EXPECT_EQ((*alice_)->sessionCount(), 0u);
    ASSERT_TRUE(alice_->sync());
    EXPECT_EQ(alice_->count(is(kEventJingleError)), 0u) << alice_->history();
}

TEST_F(JingleIntegration, TheCalleeDeclines)
{
    ASSERT_NO_FATAL_FAILURE(accepted_call());
    (*bob_)->terminate(callee_, kConditionDecline);
    ASSERT_TRUE(alice_->wait_for(is(kEventCallEnded)));
    EXPECT_EQ(alice_->last(kEventCallEnded)->text, "decline");
    EXPECT_EQ((*alice_)->sessionCount(), 0u);
}

TEST_F(JingleIntegration, AResourceWithoutTheJTokenCannotBeCalled)
{
    JabberClient::Options options;
    options.resource = "Vokar_WM_1234";
    bob_ = std::make_unique<LiveClient>(server_, server_.accounts()[1], reactor_, options);
    befriend();
    EXPECT_EQ((*alice_)->startCall(bob_->jid(), {}, kTransportAddress), nullptr);
    EXPECT_EQ(alice_->count(is(kEventCallImpossible)), 1u) << "raised before startCall returns";
}

TEST_F(JingleIntegration, AnOfflineContactCannotBeCalled)
{
    befriend();
    (*bob_)->logout();
    ASSERT_TRUE(alice_->wait_for([&](int, const JabberEvent&) {
        const auto u = alice_->last_update(bob_->jid());
        return u && u->status == kStatusOffline;
    }));
    EXPECT_EQ((*alice_)->startCall(bob_->jid(), {}, kTransportAddress), nullptr);
    EXPECT_EQ(alice_->count(is(kEventCallImpossible)), 1u);
}

} // namespace
} // namespace vokar
