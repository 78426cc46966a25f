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
        stack->open(std::make_unique<test::ScriptedTransport>(log), "127.0.0.1", "192.0.2.23", 5060,
                    5098);
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
            clock.advance(500);
            reactor.run_due();
        }
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
    std::vector<Seen> seen(int code)
    {
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
    test::ScriptedTransport::Log log;
    std::mutex mutex;
    std::vector<Seen> events;
    std::unique_ptr<SipStack> stack;
};

// ---------------------------------------------------------------- transactions and timers

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

// ---------------------------------------------------------------- registration

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

    // 407 on a call: event 7 once; four replacements are answered, the fifth not.
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

} // namespace
} // namespace vokar
