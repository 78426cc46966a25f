#include "sip/sip_stack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/sip/scripted_transport.h"

namespace vokar {
namespace {

using test::first_line;
using test::header;
using test::reply;

constexpr char kSdp[] = "v=0\r\n"
                        "o=- 4321 4321 IN IP4 198.51.100.7\r\n"
                        "s=-\r\n"
                        "c=IN IP4 198.51.100.7\r\n"
                        "t=0 0\r\n"
                        "m=audio 40000 RTP/AVP 3\r\n"
                        "a=rtpmap:3 GSM/8000\r\n";

struct Seen {
    int code = -1;
    SipResult result;
    SipCall call;
    uint32_t at = 0;
};

class SipStackTest : public ::testing::Test, public SipListener {
protected:
    void SetUp() override { make_stack(SipStack::kDefaultRegistrationPeriod); }

    void make_stack(int period)
    {
        stack.reset();
        stack = std::make_unique<SipStack>("sip.example.net", reactor, disposal, period);
        stack->add_listener(this);
        stack->add_codec(3);
        stack->open(std::make_unique<test::ScriptedConnection>(log), "127.0.0.1", "192.0.2.23",
                    5060, 5098);
        stack->wait_idle();
        std::lock_guard lock(mutex);
        events.clear();
    }

    void on_sip_event(int code, const void* data) override
    {
        Seen seen;
        seen.code = code;
        seen.at = clock.tick_count();
        if (code == kSipRegistration || code == kSipUnregistration)
            seen.result = *static_cast<const SipResult*>(data);
        else if (data)
            seen.call = *static_cast<const SipCall*>(data);
        std::lock_guard lock(mutex);
        events.push_back(seen);
    }

    // Moves the clock on, one timer tick at a time, until `ms`.
    void run_until(uint32_t ms)
    {
        while (static_cast<int32_t>(ms - clock.tick_count()) > 0) {
            stack->wait_idle(); // timer changes reach the reactor first
            clock.advance(500);
            reactor.run_due();
        }
        stack->wait_idle();
    }

    // The SIP texts sent so far (keep-alives left out).
    std::vector<std::string> sent()
    {
        std::vector<std::string> out;
        std::lock_guard lock(log.mutex);
        for (const auto& text : log.sent)
            if (text != " ")
                out.push_back(text);
        return out;
    }
    std::string last() { return sent().back(); }
    void clear()
    {
        std::lock_guard lock(log.mutex);
        log.sent.clear();
    }
    size_t event_count()
    {
        stack->wait_idle();
        std::lock_guard lock(mutex);
        return events.size();
    }
    std::vector<Seen> seen(int code)
    {
        stack->wait_idle();
        std::vector<Seen> out;
        std::lock_guard lock(mutex);
        for (const auto& e : events)
            if (e.code == code)
                out.push_back(e);
        return out;
    }

    void register_ok()
    {
        stack->register_account("4915112345678", "secret");
        stack->on_receive(reply(last(), 200, "OK"));
        stack->wait_idle();
        clear();
        std::lock_guard lock(mutex);
        events.clear();
    }

    std::string place_call()
    {
        register_ok();
        const auto key = stack->call("4930987654", "sip.example.net");
        EXPECT_TRUE(key.has_value());
        return key.value_or("");
    }

    std::string incoming(const std::string& method, const std::string& call_id,
                         const std::string& body = {}, const std::string& cseq = "1")
    {
        std::string text = method +
                           " sip:4915112345678@192.0.2.23:5098 SIP/2.0\r\n"
                           "Via: SIP/2.0/UDP 203.0.113.5:5060;branch=z9hG4bKsrv" +
                           cseq +
                           "\r\n"
                           "From: \"Bob\"<sip:4930555@sip.example.net>;tag=bob1\r\n"
                           "To: <sip:4915112345678@sip.example.net>\r\n"
                           "Call-ID: " +
                           call_id +
                           "\r\n"
                           "Contact: <sip:4930555@203.0.113.5:5060>\r\n"
                           "CSeq: " +
                           cseq + " " + method + "\r\n";
        if (method == "MESSAGE")
            text += "Content-Type: text/plain\r\n";
        else if (!body.empty())
            text += "Content-Type: application/sdp\r\n";
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return text;
    }

    platform::ManualClock clock;
    Reactor reactor{clock, false};
    DisposalQueue disposal{reactor};
    test::ScriptedConnection::Log log;
    std::mutex mutex;
    std::vector<Seen> events;
    std::unique_ptr<SipStack> stack;
};

struct Schedule {
    const char* name;
    std::vector<uint32_t> sends;
    uint32_t timeout;
};

TEST_F(SipStackTest, RequestsAreRetransmittedOnTheirScheduleThenTimedOut)
{
    const std::vector<Schedule> cases = {
        {"REGISTER", {0, 3500, 5500, 9500, 17500}, 23000},
        {"INVITE", {0, 3500, 5500, 9500, 17500, 33500, 65500, 129500}, 173000},
        {"CANCEL", {0, 3500, 5500, 9500, 17500, 33500}, 48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make_stack(SipStack::kDefaultRegistrationPeriod);
        clock.set(0);
        std::string key;
        if (std::string(c.name) != "REGISTER") {
            key = place_call();
            if (std::string(c.name) == "CANCEL") {
                stack->on_receive(reply(last(), 100, "Trying"));
                stack->hangup(key);
            }
        } else {
            stack->register_account("4915112345678", "secret");
        }
        const uint32_t start = clock.tick_count();
        std::vector<uint32_t> times;
        size_t count = 0;
        const int end_code = key.empty() ? kSipRegistration : kSipCallEnded;
        while (seen(end_code).empty() && clock.tick_count() - start < 400000) {
            for (const auto& text : sent())
                if (first_line(text).rfind(c.name, 0) == 0 && ++count > times.size())
                    times.push_back(clock.tick_count() - start);
            count = 0;
            run_until(clock.tick_count() + 500);
        }
        EXPECT_EQ(times, c.sends);
        ASSERT_EQ(seen(end_code).size(), 1u);
        EXPECT_EQ(seen(end_code)[0].at - start, c.timeout);
        if (key.empty())
            EXPECT_EQ(seen(end_code)[0].result.code, SipResult::kTimeout);
        else
            EXPECT_EQ(seen(end_code)[0].call.end_reason, SipCall::kEndTimeout);
    }
}

TEST_F(SipStackTest, AnyResponseStopsRetransmissionAndRingingCallsNeverTimeOut)
{
    const std::string key = place_call();
    stack->on_receive(reply(last(), 180, "Ringing"));
    run_until(400000);
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_TRUE(seen(kSipCallEnded).empty());
    ASSERT_EQ(seen(kSipRemoteRinging).size(), 1u);
}

TEST_F(SipStackTest, KeepAliveIsOneBlankEveryThirtySeconds)
{
    run_until(90000);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(std::count(log.sent.begin(), log.sent.end(), " "), 3);
}

TEST_F(SipStackTest, ChallengedRegistrationSucceedsOnceAndRefreshesSilently)
{
    stack->register_account("4915112345678", "secret");
    const std::string first = last();
    stack->on_receive(
        reply(first, 401, "Unauthorized",
              "WWW-Authenticate: Digest realm=\"sip.example.net\", nonce=\"n1\"\r\n"));
    const std::string second = last();
    EXPECT_EQ(first_line(sent()[1]), "ACK sip:4915112345678@sip.example.net SIP/2.0");
    EXPECT_EQ(header(second, "CSeq"), "2 REGISTER");
    EXPECT_EQ(header(second, "Call-ID"), header(first, "Call-ID"));
    EXPECT_NE(header(second, "Authorization").find("nonce=\"n1\""), std::string::npos);
    stack->on_receive(reply(second, 200, "OK"));
    ASSERT_EQ(seen(kSipRegistration).size(), 1u);
    EXPECT_EQ(seen(kSipRegistration)[0].result.code, SipResult::kSuccess);

    clear();
    run_until(1139500);
    EXPECT_TRUE(sent().empty());
    run_until(1140000);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(header(last(), "Call-ID"), header(first, "Call-ID"));
    stack->on_receive(reply(last(), 200, "OK"));
    EXPECT_EQ(seen(kSipRegistration).size(), 1u);
}

TEST_F(SipStackTest, ShortRegistrationPeriodRefreshesWithinSeconds)
{
    make_stack(10);
    clock.set(0);
    stack->register_account("4915112345678", "secret");
    EXPECT_EQ(header(last(), "Contact"), "<sip:4915112345678@192.0.2.23:5098>;expires=10");
    stack->on_receive(reply(last(), 200, "OK"));
    clear();
    run_until(5000);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(header(last(), "CSeq"), "2 REGISTER");
}

TEST_F(SipStackTest, AuthenticationGivesUpAfterItsRetryLimits)
{
    // 401: three fresh challenges are answered, the fourth refuses.
    stack->register_account("4915112345678", "wrong");
    for (int i = 1; i <= 4; ++i)
        stack->on_receive(reply(last(), 401, "Unauthorized",
                                "WWW-Authenticate: Digest realm=\"r\", nonce=\"n" +
                                    std::to_string(i) + "\"\r\n"));
    size_t registers = 0;
    for (const auto& text : sent())
        registers += first_line(text).rfind("REGISTER", 0) == 0;
    EXPECT_EQ(registers, 4u);
    ASSERT_EQ(seen(kSipRegistration).size(), 1u);
    EXPECT_EQ(seen(kSipRegistration)[0].result.code, SipResult::kAuthRefused);

    // A challenge already answered is not answered again.
    make_stack(SipStack::kDefaultRegistrationPeriod);
    clear();
    stack->register_account("4915112345678", "secret");
    const std::string challenge = "WWW-Authenticate: Digest realm=\"r\", nonce=\"same\"\r\n";
    stack->on_receive(reply(last(), 401, "Unauthorized", challenge));
    stack->on_receive(reply(last(), 401, "Unauthorized", challenge));
    EXPECT_EQ(sent().size(), 4u); // REGISTER, ACK, REGISTER, ACK
    EXPECT_TRUE(seen(kSipRegistration).empty());

    // 407 on a call: kSipProxyAuth once; four replacements are answered, the fifth not.
    const std::string key = place_call();
    for (int i = 1; i <= 6; ++i)
        stack->on_receive(reply(last(), 407, "Proxy",
                                "Proxy-Authenticate: Digest realm=\"r\", nonce=\"p" +
                                    std::to_string(i) + "\"\r\n"));
    size_t invites = 0;
    for (const auto& text : sent())
        if (first_line(text).rfind("INVITE", 0) == 0) {
            ++invites;
            EXPECT_EQ(header(text, "Content-Type"), "application/sdp");
        }
    EXPECT_EQ(invites, 6u);
    EXPECT_EQ(seen(kSipProxyAuth).size(), 1u);
}

TEST_F(SipStackTest, RegistrationFailureAndUnregistration)
{
    stack->register_account("4915112345678", "secret");
    stack->on_receive(reply(last(), 403, "Forbidden"));
    ASSERT_EQ(seen(kSipRegistration).size(), 1u);
    EXPECT_EQ(seen(kSipRegistration)[0].result.code, SipResult::kFailure);
    EXPECT_EQ(seen(kSipRegistration)[0].result.text, "Forbidden");

    register_ok();
    stack->unregister();
    EXPECT_EQ(header(last(), "Contact"), "<sip:4915112345678@192.0.2.23:5098>;expires=0");
    stack->on_receive(reply(last(), 200, "OK"));
    ASSERT_EQ(seen(kSipUnregistration).size(), 1u);
    EXPECT_EQ(seen(kSipUnregistration)[0].result.code, SipResult::kSuccess);
    EXPECT_FALSE(stack->call("4930987654", "sip.example.net"));
}

TEST_F(SipStackTest, BalanceKeepsTheLatestValue)
{
    register_ok();
    stack->on_receive(reply(incoming("OPTIONS", "b1"), 200, "OK",
                            "KestrelBilling: balance 12.50 currency ZAR\r\n"));
    EXPECT_EQ(stack->balance_text(), "R12.50");
    stack->on_receive(reply(incoming("OPTIONS", "b2"), 200, "OK",
                            "KestrelBilling: balance:1.25:currency:USD\r\n"));
    EXPECT_EQ(stack->balance_text(), "$1.25");
}

TEST_F(SipStackTest, OutgoingCallRingsIsAnsweredAndHungUp)
{
    EXPECT_FALSE(stack->call("4930987654", "sip.example.net")); // not registered
    EXPECT_TRUE(sent().empty());
    const std::string key = place_call();
    const std::string invite = last();
    EXPECT_EQ(first_line(invite), "INVITE sip:4930987654@sip.example.net SIP/2.0");

    stack->on_receive(reply(invite, 180, "Ringing"));
    stack->on_receive(reply(invite, 183, "Session", "", kSdp));
    ASSERT_EQ(seen(kSipRemoteRinging).size(), 1u);
    EXPECT_EQ(seen(kSipRemoteRinging)[0].call.state, SipCall::kStateRemoteRinging);
    ASSERT_EQ(seen(kSipEarlyMedia).size(), 1u);
    EXPECT_EQ(seen(kSipEarlyMedia)[0].call.remote_media_port, 40000);

    // A proxy's Contact parameters come back in the request line.
    const std::string contact =
        "Contact: <sip:4930987654@203.0.113.9:5060;alias=10.0.0.9~5070~1>\r\n";
    stack->on_receive(reply(invite, 200, "OK", contact, kSdp));
    ASSERT_EQ(seen(kSipCallAnswered).size(), 1u);
    const SipCall answered = seen(kSipCallAnswered)[0].call;
    EXPECT_EQ(answered.call_key, key);
    EXPECT_EQ(answered.state, SipCall::kStateConnected);
    EXPECT_EQ(answered.remote_media_ip, "198.51.100.7");
    EXPECT_EQ(answered.remote_payloads, std::vector<int>{3});
    EXPECT_EQ(answered.session_id, "4321");
    EXPECT_EQ(first_line(last()),
              "ACK sip:4930987654@203.0.113.9:5060;alias=10.0.0.9~5070~1 SIP/2.0");

    clear();
    const size_t events_before = event_count();
    stack->hangup(key);
    const auto byes = sent();
    ASSERT_EQ(byes.size(), 3u);
    EXPECT_EQ(byes[0], byes[1]);
    EXPECT_EQ(byes[1], byes[2]);
    EXPECT_EQ(first_line(byes[0]),
              "BYE sip:4930987654@203.0.113.9:5060;alias=10.0.0.9~5070~1 SIP/2.0");
    EXPECT_NE(header(byes[0], "To").find(";tag=srv1"), std::string::npos);
    stack->hangup(key); // the call is gone
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_EQ(event_count(), events_before);
}

TEST_F(SipStackTest, ErrorAnswersEndTheCallWithTheirReason)
{
    const std::vector<std::pair<int, int>> cases = {
        {486, SipCall::kEndBusy},        {404, SipCall::kEndNotFound}, {408, SipCall::kEndTimeout},
        {503, SipCall::kEndUnavailable}, {480, SipCall::kEndOther},
    };
    for (const auto& [status, reason] : cases) {
        SCOPED_TRACE(status);
        make_stack(SipStack::kDefaultRegistrationPeriod);
        place_call();
        const std::string invite = last();
        stack->on_receive(reply(invite, 488, "Not")); // ignored
        stack->on_receive(reply(invite, status, "Error"));
        ASSERT_EQ(seen(kSipCallEnded).size(), 1u);
        EXPECT_EQ(seen(kSipCallEnded)[0].call.end_reason, reason);
        EXPECT_EQ(seen(kSipCallEnded)[0].call.state, SipCall::kStateEnded);
        EXPECT_EQ(first_line(last()).rfind("ACK ", 0), 0u);
        stack->on_receive(reply(invite, status, "Error")); // no dialog any more
        EXPECT_EQ(seen(kSipCallEnded).size(), 1u);
    }
}

TEST_F(SipStackTest, RedirectReportsTheContact)
{
    place_call();
    stack->on_receive(reply(last(), 302, "Moved", "Contact: <sip:4930111@other.example.net>\r\n"));
    ASSERT_EQ(seen(kSipRedirected).size(), 1u);
    EXPECT_EQ(seen(kSipRedirected)[0].call.redirect_user, "4930111");
    EXPECT_EQ(seen(kSipRedirected)[0].call.redirect_host, "other.example.net");
    EXPECT_EQ(first_line(last()).rfind("ACK ", 0), 0u);
}

TEST_F(SipStackTest, AnswerCrossingOurCancelIsAcknowledgedThenEndedWithBye)
{
    const std::string key = place_call();
    const std::string invite = last();
    stack->on_receive(reply(invite, 180, "Ringing"));
    stack->hangup(key);
    EXPECT_EQ(first_line(last()), "CANCEL sip:4930987654@sip.example.net SIP/2.0");
    EXPECT_EQ(header(last(), "Via"), header(invite, "Via")); // same transaction
    clear();
    stack->on_receive(reply(invite, 200, "OK", "", kSdp));
    const auto out = sent();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(first_line(out[0]).rfind("ACK ", 0), 0u);
    for (size_t i = 1; i < out.size(); ++i) {
        EXPECT_EQ(first_line(out[i]).rfind("BYE ", 0), 0u);
        EXPECT_NE(header(out[i], "To").find(";tag=srv1"), std::string::npos);
    }
    ASSERT_EQ(seen(kSipCallEnded).size(), 1u);
    EXPECT_EQ(seen(kSipCallEnded)[0].call.state, SipCall::kStateEnded);
    EXPECT_TRUE(seen(kSipCallAnswered).empty());
}

TEST_F(SipStackTest, IncomingCallIsRungAnsweredAndEndedByTheCaller)
{
    register_ok();
    stack->on_receive(incoming("INVITE", "in1", kSdp));
    stack->on_receive(incoming("INVITE", "in1", kSdp)); // a retransmission
    EXPECT_EQ(first_line(last()), "SIP/2.0 100 Trying");
    ASSERT_EQ(seen(kSipIncomingCall).size(), 1u);
    const SipCall call = seen(kSipIncomingCall)[0].call;
    EXPECT_EQ(call.state, SipCall::kStateIncoming);
    EXPECT_EQ(call.direction, SipCall::kIncoming);
    EXPECT_EQ(call.remote_user, "4930555");
    EXPECT_EQ(call.remote_display, "Bob");
    EXPECT_EQ(call.remote_media_port, 40000);

    stack->ringing(call.call_key);
    EXPECT_EQ(first_line(last()), "SIP/2.0 180 Ringing");
    stack->accept(call.call_key);
    EXPECT_EQ(first_line(last()), "SIP/2.0 200 OK - Call excepted");
    EXPECT_EQ(header(last(), "Via"), "SIP/2.0/UDP 203.0.113.5:5060;branch=z9hG4bKsrv1");
    EXPECT_NE(last().find("o=Quillvoce 4321 "), std::string::npos);

    stack->on_receive(incoming("ACK", "in1", "", "1"));
    stack->on_receive(incoming("BYE", "in1", "", "2"));
    EXPECT_EQ(first_line(last()), "SIP/2.0 200 OK - Call terminated on this end");
    EXPECT_EQ(header(last(), "CSeq"), "2 BYE");
    ASSERT_EQ(seen(kSipCallEnded).size(), 1u);
    EXPECT_EQ(seen(kSipCallEnded)[0].call.end_reason, SipCall::kEndHungUp);
}

TEST_F(SipStackTest, IncomingCallEndsByCancelOrRejection)
{
    register_ok();
    stack->on_receive(incoming("INVITE", "c1", kSdp));
    stack->on_receive(incoming("CANCEL", "c1"));
    EXPECT_EQ(first_line(last()), "SIP/2.0 200 OK - Call terminated on this end");
    ASSERT_EQ(seen(kSipCallEnded).size(), 1u);
    EXPECT_EQ(seen(kSipCallEnded)[0].call.end_reason, SipCall::kEndCancelled);

    stack->on_receive(incoming("INVITE", "r1", kSdp));
    stack->hangup(seen(kSipIncomingCall).back().call.call_key);
    EXPECT_EQ(first_line(last()), "SIP/2.0 486 Busy Here");
    EXPECT_EQ(seen(kSipCallEnded).size(), 1u); // not before the caller's ACK
    stack->on_receive(incoming("ACK", "r1"));
    EXPECT_EQ(seen(kSipCallEnded).size(), 2u);
}

TEST_F(SipStackTest, RequestsOutsideDialogsAreAnswered)
{
    struct Case {
        const char* method;
        const char* status_line;
        int event;
    };
    const std::vector<Case> cases = {
        {"OPTIONS", "SIP/2.0 200 OK - Options", -1},
        {"MESSAGE", "SIP/2.0 200 OK - message sent", kSipMessage},
        {"NOTIFY", "SIP/2.0 200 Ok", kSipNotify},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        make_stack(SipStack::kDefaultRegistrationPeriod);
        clear();
        stack->on_receive(incoming(c.method, std::string("o-") + c.method, "Hello there\r\n"));
        ASSERT_EQ(sent().size(), 1u);
        EXPECT_EQ(first_line(last()), c.status_line);
        EXPECT_EQ(event_count(), c.event < 0 ? 0u : 1u);
        if (c.event == kSipMessage) {
            EXPECT_EQ(seen(kSipMessage)[0].call.message, "Hello there");
            EXPECT_EQ(seen(kSipMessage)[0].call.remote_user, "4930555");
        }
    }
    stack->on_receive(incoming("SUBSCRIBE", "o-sub")); // never answered
    stack->on_receive(incoming("BYE", "o-bye"));
    EXPECT_EQ(sent().size(), 1u);

    stack->on_receive(incoming("INVITE", "n1", kSdp));
    stack->on_receive(incoming("NOTIFY", "n1", "", "2"));
    EXPECT_EQ(first_line(last()), "SIP/2.0 200 OK - notify recieved");
    EXPECT_EQ(seen(kSipNotify).size(), 2u);
}

TEST_F(SipStackTest, UnansweredIncomingCallsAreBounded)
{
    for (int i = 0; i < 64; ++i)
        stack->on_receive(incoming("INVITE", "flood" + std::to_string(i), kSdp));
    clear();
    stack->on_receive(incoming("INVITE", "one-too-many", kSdp));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(seen(kSipIncomingCall).size(), 64u);
}

// A listener blocks inside an event until the owner's hangup and accept,
// called on another thread, have returned.
TEST_F(SipStackTest, ListenerBlockedInAnEventDoesNotBlockTheOwner)
{
    register_ok();
    struct Blocking final : SipListener {
        std::mutex mutex;
        std::condition_variable cv;
        std::string key;
        bool owner_done = false;
        bool released = false;
        void on_sip_event(int code, const void* data) override
        {
            if (code != kSipIncomingCall)
                return;
            std::unique_lock lock(mutex);
            key = static_cast<const SipCall*>(data)->call_key;
            cv.notify_all();
            released = cv.wait_for(lock, std::chrono::seconds(20), [&] { return owner_done; });
        }
    } listener;
    stack->add_listener(&listener);
    std::thread receiver([&] { stack->on_receive(incoming("INVITE", "t1", kSdp)); });
    std::string key;
    {
        std::unique_lock lock(listener.mutex);
        ASSERT_TRUE(listener.cv.wait_for(lock, std::chrono::seconds(20),
                                         [&] { return !listener.key.empty(); }));
        key = listener.key;
    }
    stack->accept(key);
    stack->hangup(key);
    {
        std::lock_guard lock(listener.mutex);
        listener.owner_done = true;
    }
    listener.cv.notify_all();
    receiver.join();
    stack->wait_idle(); // the listener has returned
    EXPECT_TRUE(listener.released);
    EXPECT_EQ(first_line(sent().back()).rfind("BYE ", 0), 0u);
    stack->remove_listener(&listener);
}

} // namespace
} // namespace vokar
