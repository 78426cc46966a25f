#include "core/call_controller.h"

#include <gtest/gtest.h>

#include "core/sip_phone.h"
#include "media/audio_engine.h"
#include "platform/audio_device.h"
#include "tests/core/core_test_support.h"

namespace vokar {
namespace {

using test::eventually;

// A stack that hands out keys "k1", "k2", ... and records what was asked.
class CallStack : public SipStackInterface {
public:
    struct Log {
        std::mutex mutex;
        std::vector<std::string> calls, ringing, accepted, hangups;
        std::vector<std::string> media_then_answers; // set_rtp_port and accept, in order
        SipListener* listener = nullptr;
        std::atomic<bool> registered{false};
        // The server's answers to an INVITE arrive before call() returns.
        bool answers_first = false;
        std::vector<std::string> get(std::vector<std::string> Log::*list)
        {
            std::lock_guard lock(mutex);
            return this->*list;
        }
        void add(std::vector<std::string> Log::*list, const std::string& value)
        {
            std::lock_guard lock(mutex);
            (this->*list).push_back(value);
        }
    };
    explicit CallStack(Log& log) : log_(log) {}
    void add_listener(SipListener* l) override { log_.listener = l; }
    void remove_listener(SipListener*) override {}
    void add_codec(int) override {}
    void set_display_name(const std::string&) override {}
    void set_local_address(const std::string&, int) override {}
    void set_rtp_port(int port) override
    {
        log_.add(&Log::media_then_answers, "rtp " + std::to_string(port));
    }
    void set_stun_address(const std::string&, int) override {}
    bool open(std::unique_ptr<ConnectionInterface> transport, const std::string&,
              const std::string&, uint16_t, uint16_t) override
    {
        transport_ = std::move(transport);
        return true;
    }
    void register_account(const std::string&, const std::string&) override
    {
        log_.registered = true;
    }
    void unregister() override {}
    std::optional<std::string> call(const std::string& user, const std::string&) override
    {
        log_.add(&Log::calls, user);
        const std::string key = "k" + std::to_string(log_.get(&Log::calls).size());
        if (log_.answers_first) {
            SipCall c;
            c.call_key = key;
            log_.listener->on_sip_event(kSipProxyAuth, &c);
            c.end_reason = SipCall::kEndBusy;
            log_.listener->on_sip_event(kSipCallEnded, &c);
        }
        return key;
    }
    void ringing(const std::string& key) override { log_.add(&Log::ringing, key); }
    void accept(const std::string& key) override
    {
        log_.add(&Log::accepted, key);
        log_.add(&Log::media_then_answers, "accept " + key);
    }
    void hangup(const std::string& key) override { log_.add(&Log::hangups, key); }
    std::string balance_text() override { return {}; }

private:
    Log& log_;
    std::unique_ptr<ConnectionInterface> transport_;
};

// Media bound on loopback, any port; a Jingle call offers its local address.
// A SIP call's discovery can be held, as a slow STUN query holds it.
class LoopbackDiscovery : public AddressDiscovery {
public:
    std::vector<TransportAddress> jingle_addresses(MediaParameters& media) override
    {
        media.local_address = "127.0.0.1";
        return {{"127.0.0.1", "peer", 8600}};
    }
    void sip_addresses(SipStackInterface& stack, MediaParameters& media) override
    {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return !held_; });
        media.local_address = "127.0.0.1";
        stack.set_rtp_port(8642);
    }
    void hold(bool held)
    {
        std::lock_guard lock(mutex_);
        held_ = held;
        released_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
};

// Both phones with calls: a scripted SIP stack, real XMPP clients over
// scripted connections, and per-call engines without sound devices.
struct CallRig {
    CallRig() { settings.set(&Settings::dialing_prefix, L"27"); }

    AppController::Config config()
    {
        AppController::Config c;
        c.contact_name = [](const std::wstring& n) {
            return n == L"27821110000" ? L"Alice" : std::wstring();
        };
        c.calls.discovery = &discovery;
        c.calls.make_audio = [this](int payload) {
            return std::make_unique<media::AudioEngine>(payload, *devices, "127.0.0.1");
        };
        return c;
    }
    void sip_registered()
    {
        phone.login("27821234567", "pw");
        ASSERT_TRUE(eventually([&] { return stack.registered.load(); }));
        const SipResult ok{SipResult::kSuccess, ""};
        stack.listener->on_sip_event(kSipRegistration, &ok);
    }
    void sip_event(int code, const std::string& key, int end_reason = SipCall::kEndOther,
                   const std::string& user = "bob")
    {
        SipCall c;
        c.call_key = key;
        c.remote_user = user;
        c.end_reason = end_reason;
        c.remote_payloads = {3, 97};
        c.session_id = "4242";
        stack.listener->on_sip_event(code, &c);
    }
    void xmpp_connected()
    {
        app.login("27821234567", "pw");
        ASSERT_TRUE(xmpp.wait_for_stream(1));
    }
    // An incoming Jingle call from bob; the call the screens were sent, held
    // as the screen holds it.
    std::shared_ptr<JingleSession> jingle_incoming(std::shared_ptr<CallController>* call = nullptr)
    {
        auto session = std::make_shared<JingleSession>(JingleSession::kAudio);
        session->sid = "1000123";
        session->initiator = "bob@vokar.test/phone";
        JabberEvent e;
        e.session = session;
        test::ControllerEvents::raise(app, kEventIncomingCall, &e);
        if (call)
            *call = app.currentCall();
        return session;
    }
    void jingle_event(int code, const std::shared_ptr<JingleSession>& session,
                      const std::string& text = "")
    {
        JabberEvent e;
        e.session = session;
        e.text = text;
        test::ControllerEvents::raise(app, code, &e);
    }
    std::vector<test::UiRecord> call_messages()
    {
        std::vector<test::UiRecord> out;
        for (const auto& r : ui.take())
            if (code(r.code) >= 2124 && code(r.code) <= 2130)
                out.push_back(r);
        return out;
    }

    test::ScratchDir scratch;
    platform::OperatorConfig conf;
    SettingsStore settings{scratch.settings_path(), conf};
    test::TestClock clock;
    test::FakeBearer bearer;
    test::RecordingUi ui;
    test::XmppRig xmpp{clock};
    test::XmppRig sip_net{clock};
    CallStack::Log stack;
    LoopbackDiscovery discovery;
    std::unique_ptr<platform::AudioDevices> devices =
        platform::make_audio_devices({"none", "none"});
    test::Disposal disposal;
    AppController app{
        {settings, bearer, ui, clock, disposal.queue(), xmpp.clients(), xmpp.connections()},
        config()};
    SipPhone phone{{settings, bearer, ui, app, disposal.queue(),
                    [this](const std::string&) { return std::make_unique<CallStack>(stack); },
                    sip_net.connections(), [] {}, [] {}}};
};

std::vector<std::pair<int, bool>> codes_of(const std::vector<test::UiRecord>& records)
{
    std::vector<std::pair<int, bool>> out;
    for (const auto& r : records)
        out.emplace_back(code(r.code), r.posted);
    return out;
}

TEST(CallControllerTest, PayloadIsTheFirstOfSpeexAndGsmInTheFarEndsOrder)
{
    EXPECT_EQ(CallController::choosePayload({}), 97);
    EXPECT_EQ(CallController::choosePayload({0, 8}), 97);
    EXPECT_EQ(CallController::choosePayload({0, 3, 97}), 3);
    EXPECT_EQ(CallController::choosePayload({97, 3}), 97);
    EXPECT_EQ(CallController::ssrcOf("1000123"), 1000123u);
    EXPECT_EQ(CallController::ssrcOf("12ab"), 0u);
}

TEST(CallControllerTest, CallWithoutJingleGoesOutOverSipAndEndsWithTheReasonsText)
{
    CallRig r;
    r.sip_registered();
    r.ui.take();
    // Without an XMPP connection the call cannot go out over Jingle.
    const auto call = r.app.makeCall(L"082 111-0000");
    EXPECT_EQ(call->displayName(), L"Alice");
    ASSERT_TRUE(eventually([&] { return r.stack.get(&CallStack::Log::calls).size() == 1; }));
    EXPECT_EQ(r.stack.get(&CallStack::Log::calls)[0], "27821110000");
    EXPECT_EQ(call->owner(), &r.phone);
    EXPECT_EQ(r.app.currentCall(), nullptr);

    r.sip_event(kSipRemoteRinging, "k1");
    EXPECT_EQ(call->state(), CallController::kAlerting);
    r.sip_event(kSipCallAnswered, "k1");
    EXPECT_EQ(call->state(), CallController::kTalking);
    r.sip_event(kSipRemoteRinging, "k1"); // overtaken by the answer: changes nothing
    EXPECT_EQ(call->state(), CallController::kTalking);
    EXPECT_EQ(call->mediaParameters().local_address, "127.0.0.1");
    r.sip_event(kSipCallEnded, "k1", SipCall::kEndBusy);
    EXPECT_EQ(call->state(), CallController::kEnded);
    EXPECT_EQ(call->statusText(), L"Call Ended - Busy");
    EXPECT_EQ(r.phone.callCount(), 0u);
    EXPECT_EQ(codes_of(r.call_messages()), (std::vector<std::pair<int, bool>>{{2125, false},
                                                                              {2124, false},
                                                                              {2127, false},
                                                                              {2124, false},
                                                                              {2124, false},
                                                                              {2129, true}}));

    EXPECT_EQ(SipPhone::callEndText(SipCall::kEndTimeout), StringId::CALL_ENDED_TIMED_OUT);
    EXPECT_EQ(SipPhone::callEndText(SipCall::kEndNotFound), StringId::CALL_ENDED_INVALID_NUMBER);
    EXPECT_EQ(SipPhone::callEndText(SipCall::kEndOther), StringId::CALL_ENDED);
}

TEST(CallControllerTest, AnswersThatOvertakeTheInviteStillReachTheCall)
{
    CallRig r;
    r.stack.answers_first = true;
    r.sip_registered();
    r.ui.take();
    const auto call = r.app.makeCall(L"0821110000");
    ASSERT_TRUE(eventually([&] { return call->state() == CallController::kEnded; }));
    EXPECT_EQ(call->statusText(), L"Call Ended - Busy");
    EXPECT_EQ(r.phone.callCount(), 0u);
    EXPECT_EQ(codes_of(r.call_messages()),
              (std::vector<std::pair<int, bool>>{
                  {2125, false}, {2130, true}, {2124, false}, {2129, true}}));
}

TEST(CallControllerTest, MissedSipCallReportsMissedBeforeChangedAndOver)
{
    CallRig r;
    r.sip_registered();
    r.ui.take();
    r.sip_event(kSipIncomingCall, "in1");
    EXPECT_EQ(r.stack.get(&CallStack::Log::ringing), std::vector<std::string>{"in1"});
    auto messages = r.call_messages();
    ASSERT_EQ(codes_of(messages), (std::vector<std::pair<int, bool>>{{2126, false}}));
    const auto call = reinterpret_cast<CallController*>(messages[0].wparam)->shared_from_this();
    // Busy while a call is in the list; our own name calling is refused.
    r.sip_event(kSipIncomingCall, "in2");
    r.sip_event(kSipIncomingCall, "in1"); // a repeated INVITE stays with its call
    EXPECT_EQ(r.stack.get(&CallStack::Log::hangups), std::vector<std::string>{"in2"});
    r.sip_event(kSipCallEnded, "in1", SipCall::kEndCancelled);
    r.sip_event(kSipIncomingCall, "in3", SipCall::kEndOther, "sip27821234567");
    EXPECT_EQ(r.stack.get(&CallStack::Log::hangups), (std::vector<std::string>{"in2", "in3"}));
    EXPECT_EQ(r.phone.callCount(), 0u);

    messages = r.call_messages();
    EXPECT_EQ(codes_of(messages),
              (std::vector<std::pair<int, bool>>{{2128, false}, {2124, false}, {2129, true}}));
    EXPECT_EQ(messages[2].wparam, reinterpret_cast<uintptr_t>(call.get()));
    EXPECT_EQ(call->statusText(), L"Call Ended - Cancelled");
    EXPECT_EQ(call->number(), L"bob");
}

// The answer's session description names the media port the discovery
// gives the stack: an answer waits for it.
TEST(CallControllerTest, AnsweringASipCallWaitsForItsMediaAddresses)
{
    CallRig r;
    r.sip_registered();
    r.ui.take();
    r.discovery.hold(true);
    r.sip_event(kSipIncomingCall, "in1");
    const auto messages = r.call_messages();
    ASSERT_FALSE(messages.empty());
    const auto call = reinterpret_cast<CallController*>(messages[0].wparam)->shared_from_this();
    call->answer();
    EXPECT_TRUE(r.stack.get(&CallStack::Log::accepted).empty()) << "answered before its media";
    r.discovery.hold(false);
    ASSERT_TRUE(eventually([&] { return call->state() == CallController::kTalking; }));
    EXPECT_EQ(r.stack.get(&CallStack::Log::media_then_answers),
              (std::vector<std::string>{"rtp 8642", "accept in1"}));
    call->hangUp();
}

TEST(CallControllerTest, JingleCallIsAnsweredAndEndsWithThePeersReason)
{
    CallRig r;
    r.xmpp_connected();
    std::shared_ptr<CallController> call;
    const auto session = r.jingle_incoming(&call);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->number(), L"bob");
    // A second call while one is current is refused.
    r.jingle_incoming();
    EXPECT_EQ(r.app.currentCall(), call);

    call->answer();
    r.jingle_event(kEventCallAccepted, session);
    EXPECT_EQ(call->state(), CallController::kTalking);
    r.jingle_event(kEventCallEnded, session, "success");
    EXPECT_EQ(call->statusText(), L"success");
    EXPECT_EQ(r.app.currentCall(), nullptr);
    EXPECT_EQ(codes_of(r.call_messages()),
              (std::vector<std::pair<int, bool>>{
                  {2126, false}, {2127, false}, {2124, false}, {2124, false}, {2129, true}}));
}

TEST(CallControllerTest, FailedJingleRequestOfAnAnsweredCallEndsIt)
{
    CallRig r;
    r.xmpp_connected();
    std::shared_ptr<CallController> call;
    const auto session = r.jingle_incoming(&call);
    JabberEvent error;
    error.sid = "999"; // another session's
    test::ControllerEvents::raise(r.app, kEventJingleError, &error);
    EXPECT_EQ(call->state(), CallController::kAlerting);
    call->answer();
    error.sid = session->sid;
    test::ControllerEvents::raise(r.app, kEventJingleError, &error);
    EXPECT_EQ(call->state(), CallController::kEnded);
    EXPECT_EQ(call->statusText(), L"Call Ended");
    EXPECT_EQ(call->owner(), &r.app);
    EXPECT_EQ(r.app.currentCall(), nullptr);
}

TEST(CallControllerTest, CallImpossibleAfterTheCallEndedPlacesNothing)
{
    CallRig r;
    r.sip_registered();
    r.xmpp_connected();
    std::shared_ptr<CallController> call;
    const auto session = r.jingle_incoming(&call);
    // A current call that is not being started stays on Jingle.
    test::ControllerEvents::raise(r.app, kEventCallImpossible, nullptr);
    EXPECT_EQ(call->owner(), &r.app);
    r.jingle_event(kEventCallEnded, session);
    EXPECT_EQ(call->statusText(), L"Call Ended");
    // The screen has let the call go; the event comes with a later login.
    call.reset();
    r.ui.take();
    test::ControllerEvents::raise(r.app, kEventCallImpossible, nullptr);
    JabberEvent empty;
    test::ControllerEvents::raise(r.app, kEventCallImpossible, &empty);
    EXPECT_EQ(r.phone.callCount(), 0u);
    EXPECT_TRUE(r.call_messages().empty());
    EXPECT_TRUE(r.stack.get(&CallStack::Log::calls).empty());
}

TEST(CallControllerTest, HangUpRacingThePeersEndEndsTheCallOnce)
{
    CallRig r;
    r.xmpp_connected();
    for (int i = 0; i < 20; ++i) {
        std::shared_ptr<CallController> call;
        const auto session = r.jingle_incoming(&call);
        ASSERT_NE(call, nullptr);
        r.ui.take();
        std::thread peer([&] { r.jingle_event(kEventCallEnded, session, "busy"); });
        call->hangUp();
        peer.join();
        EXPECT_EQ(call->state(), CallController::kEnded);
        EXPECT_EQ(r.app.currentCall(), nullptr);
        int over = 0;
        for (const auto& m : r.call_messages())
            over += code(m.code) == 2129;
        // Whichever came first ended the call; the other found it gone.
        EXPECT_LE(over, 1);
        EXPECT_EQ(call->statusText(), over ? L"busy" : L"Call Ended");
    }
}

} // namespace
} // namespace vokar
