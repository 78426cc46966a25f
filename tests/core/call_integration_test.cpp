// Calls between whole clients through the operator's stack (XMPP, SIP and the
// operator daemon), with WAV audio on every end: each side's calls, window
// messages, end texts and call log.

#include <gtest/gtest.h>

#include "account/call_log.h"
#include "core/program.h"
#include "platform/text.h"
#include "tests/core/core_test_support.h"
#include "tests/support/full_stack.h"
#include "tests/support/live_client.h"
#include "tests/support/whole_client.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;
using test::WholeClient;
using test::WholeClientOptions;

constexpr int kChanged = static_cast<int>(MessageCode::CallChanged);
constexpr int kCreated = static_cast<int>(MessageCode::CallCreated);
constexpr int kIncoming = static_cast<int>(MessageCode::CallIncoming);
constexpr int kConnected = static_cast<int>(MessageCode::CallConnected);
constexpr int kMissed = static_cast<int>(MessageCode::CallMissed);
constexpr int kOver = static_cast<int>(MessageCode::CallOver);

// alice and bob are friends; carol and bobby are strangers to both.
class CallIntegration : public ::testing::Test {
protected:
    CallIntegration()
        : stack_(test::FullStackOptions{.extra_config = {},
                                        .accounts = {{"alice", "alice-pass"},
                                                     {"bob", "bob-pass"},
                                                     {"carol", "carol-pass"},
                                                     {"bobby", "bobby-pass"}}})
    {
    }
    void SetUp() override
    {
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(stack_.befriend()) << stack_.error();
    }
    void TearDown() override { clients_.clear(); }

    // A logged-in client of the account; `sip_only`: not logged in to XMPP,
    // so its calls go out over SIP at once.
    WholeClient& client(const std::string& user, bool sip_only = false)
    {
        WholeClientOptions options;
        options.xmpp = !sip_only;
        clients_.push_back(std::make_unique<WholeClient>(
            stack_, test::XmppAccount{user, user + "-pass"}, options));
        EXPECT_TRUE(clients_.back()->log_in()) << user;
        return *clients_.back();
    }

    // Both ends hear the other's microphone for half a second.
    static bool speech_both_ways(WholeClient& a, WholeClient& b)
    {
        return test::eventually(
            [&] { return a.heard_samples() > 4000 && b.heard_samples() > 4000; });
    }

    test::FullStack stack_;
    std::vector<std::unique_ptr<WholeClient>> clients_;
};

TEST_F(CallIntegration, JingleCallRingsIsAnsweredAndHungUp)
{
    WholeClient& alice = client("alice");
    WholeClient& bob = client("bob");
    ASSERT_TRUE(alice.sees_online("bob"));
    const auto call = alice.program().app().makeCall(L"bob");
    const auto incoming = bob.wait_for(MessageCode::CallIncoming);
    ASSERT_NE(incoming, nullptr);
    EXPECT_EQ(incoming->number(), L"alice");
    ASSERT_TRUE(alice.wait_for(MessageCode::CallChanged)); // the peer rings
    EXPECT_EQ(call->state(), CallController::kAlerting);
    EXPECT_EQ(call->owner(), &alice.program().app());

    incoming->answer();
    ASSERT_TRUE(bob.wait_for(MessageCode::CallConnected));
    ASSERT_TRUE(alice.wait_for(MessageCode::CallConnected));
    EXPECT_EQ(call->state(), CallController::kTalking);
    EXPECT_EQ(incoming->state(), CallController::kTalking);
    EXPECT_TRUE(speech_both_ways(alice, bob));

    call->hangUp();
    ASSERT_TRUE(bob.wait_for(MessageCode::CallOver));
    EXPECT_EQ(incoming->state(), CallController::kEnded);
    EXPECT_EQ(incoming->statusText(), L"busy");
    EXPECT_EQ(alice.ui().call_codes(),
              (std::vector<int>{kCreated, kChanged, kConnected, kChanged, kChanged}));
    EXPECT_EQ(bob.ui().call_codes(),
              (std::vector<int>{kIncoming, kConnected, kChanged, kChanged, kOver}));

    // The caller's log holds the outgoing call, also in its file; the
    // callee's holds nothing.
    const auto logged = alice.program().call_log().entries();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].number, L"bob");
    EXPECT_EQ(logged[0].type, kCallOutgoing);
    EXPECT_TRUE(bob.program().call_log().entries().empty());
    CallLog reread(alice.directory() + "/CallLog.txt");
    EXPECT_TRUE(test::eventually([&] {
        reread.load();
        return reread.entries().size() == 1 && reread.entries()[0].number == L"bob";
    }));
}

// bob's only XMPP resource has no Jingle: the same call goes out over SIP.
TEST_F(CallIntegration, ACallToAResourceWithoutJingleGoesOverSip)
{
    WholeClient& alice = client("alice");
    WholeClient& bob = client("bob", true);
    Reactor reactor;
    JabberClient::Options no_jingle;
    no_jingle.resource = "Vokar_WM_1234";
    test::LiveClient bob_im(stack_.xmpp(), stack_.accounts()[1], reactor, no_jingle);
    ASSERT_TRUE(bob_im.log_in());
    ASSERT_TRUE(alice.sees_online("bob"));

    const auto call = alice.program().app().makeCall(L"bob");
    const auto incoming = bob.wait_for(MessageCode::CallIncoming);
    ASSERT_NE(incoming, nullptr);
    EXPECT_EQ(incoming->number(), L"alice");
    EXPECT_EQ(incoming->owner(), &bob.program().sip());
    ASSERT_TRUE(alice.wait_for(MessageCode::CallChanged)); // 180 Ringing
    EXPECT_EQ(call->owner(), &alice.program().sip());
    EXPECT_EQ(call->state(), CallController::kAlerting);

    incoming->answer();
    ASSERT_TRUE(alice.wait_for(MessageCode::CallConnected));
    ASSERT_TRUE(bob.wait_for(MessageCode::CallConnected));
    EXPECT_TRUE(speech_both_ways(alice, bob));

    call->hangUp();
    ASSERT_TRUE(bob.wait_for(MessageCode::CallOver));
    EXPECT_EQ(incoming->statusText(), L"Call Ended");
    EXPECT_EQ(alice.ui().count(MessageCode::CallCreated), 1u) << "one call, one screen";
    EXPECT_EQ(alice.program().sip().callCount(), 0u);
    EXPECT_EQ(bob.program().sip().callCount(), 0u);
}

// A refusal (486), no answer until the server's INVITE time-out (408) and a
// number nobody has (404), each with its end text.
TEST_F(CallIntegration, SipCallsEndWithTheTextOfTheirEnd)
{
    WholeClient& alice = client("alice", true);
    WholeClient& bob = client("bob", true);

    const auto busy = alice.program().app().makeCall(L"bob");
    const auto refused = bob.wait_for(MessageCode::CallIncoming);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(busy->owner(), &alice.program().sip());
    refused->reject();
    ASSERT_TRUE(alice.wait_for(MessageCode::CallOver));
    EXPECT_EQ(busy->statusText(), L"Call Ended - Busy");

    // The server gives up on bob after its fr_inv_timer (5 s here).
    const auto unanswered = alice.program().app().makeCall(L"bob");
    const auto ringing = bob.wait_for(MessageCode::CallIncoming, 10s, 2);
    ASSERT_NE(ringing, nullptr);
    ASSERT_TRUE(alice.wait_for(MessageCode::CallOver, 15s, 2));
    EXPECT_EQ(unanswered->statusText(), L"Call Ended - Timed Out");
    // bob's phone stops ringing: a missed call, before its last redraw.
    ASSERT_TRUE(bob.wait_for(MessageCode::CallOver)) << "the rejected call sent none";
    const std::vector<int> codes = bob.ui().call_codes();
    EXPECT_EQ(std::vector<int>(codes.end() - 3, codes.end()),
              (std::vector<int>{kMissed, kChanged, kOver}));

    const auto unknown = alice.program().app().makeCall(L"15550199");
    ASSERT_TRUE(alice.wait_for(MessageCode::CallOver, 10s, 3));
    EXPECT_EQ(unknown->statusText(), L"Invalid Number");
    EXPECT_EQ(bob.ui().count(MessageCode::CallIncoming), 2u);
}

// bob talks with alice; a second call to him is refused as busy and his
// call goes on.
TEST_F(CallIntegration, ASecondIncomingJingleCallIsRefusedAsBusy)
{
    WholeClient& alice = client("alice");
    WholeClient& bob = client("bob");
    ASSERT_TRUE(alice.sees_online("bob"));
    const auto call = alice.program().app().makeCall(L"bob");
    const auto incoming = bob.wait_for(MessageCode::CallIncoming);
    ASSERT_NE(incoming, nullptr);
    incoming->answer();
    ASSERT_TRUE(alice.wait_for(MessageCode::CallConnected));

    // alice's second resource, which takes Jingle calls, calls bob too.
    Reactor reactor;
    test::LiveClient alice_im(stack_.xmpp(), stack_.accounts()[0], reactor);
    ASSERT_TRUE(alice_im.log_in());
    const std::string bob_jid = "bob@" + stack_.config().service_domain;
    ASSERT_TRUE(alice_im.wait_for_status(bob_jid, kStatusAvailable));
    ASSERT_NE(alice_im->startCall(bob_jid, {{"127.0.0.1", "peer", 9999}}, kTransportAddress),
              nullptr);
    ASSERT_TRUE(
        alice_im.wait_for([](int code, const JabberEvent&) { return code == kEventCallEnded; }));
    EXPECT_EQ(alice_im.last(kEventCallEnded)->text, "busy");
    EXPECT_EQ(bob.ui().count(MessageCode::CallIncoming), 1u);
    EXPECT_EQ(incoming->state(), CallController::kTalking);
    EXPECT_EQ(call->state(), CallController::kTalking);
    EXPECT_EQ(bob.program().app().currentCall(), incoming);
}

TEST_F(CallIntegration, IncomingSipCallsAreRefusedWhileBusyAndFromTheUsersOwnName)
{
    WholeClient& alice = client("alice", true);
    WholeClient& bob = client("bob", true);
    WholeClient& carol = client("carol", true);
    WholeClient& bobby = client("bobby", true);

    const auto call = alice.program().app().makeCall(L"bob");
    const auto incoming = bob.wait_for(MessageCode::CallIncoming);
    ASSERT_NE(incoming, nullptr);
    incoming->answer();
    ASSERT_TRUE(alice.wait_for(MessageCode::CallConnected));
    ASSERT_TRUE(bob.wait_for(MessageCode::CallConnected));

    const auto second = carol.program().app().makeCall(L"bob");
    ASSERT_TRUE(carol.wait_for(MessageCode::CallOver));
    EXPECT_EQ(second->statusText(), L"Call Ended - Busy");
    EXPECT_EQ(incoming->state(), CallController::kTalking);
    call->hangUp();
    ASSERT_TRUE(bob.wait_for(MessageCode::CallOver));

    // "bobby" contains "bob": refused although bob is free.
    const auto own_name = bobby.program().app().makeCall(L"bob");
    ASSERT_TRUE(bobby.wait_for(MessageCode::CallOver));
    EXPECT_EQ(own_name->statusText(), L"Call Ended - Busy");
    EXPECT_EQ(bob.ui().count(MessageCode::CallIncoming), 1u);
}

} // namespace
} // namespace vokar
