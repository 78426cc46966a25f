// The call, SMS and invitation screens of the windowed client against the
// whole operator stack on loopback, with a second whole client as the far
// party of its calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "live_ui.h"
#include "platform/text.h"
#include "tests/support/full_stack.h"
#include "tests/support/whole_client.h"
#include "tools/operator/accounts/account_store.h"
#include "ui/screens/call_screens.h"
#include "ui/screens/sms_screens.h"
#include "ui/ui_messages.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

constexpr uint32_t kWaitMs = 15000;

// Ten seconds of silence: the client's microphone, so that whatever the far
// party hears of this client is its key tones.
std::string silence_wav()
{
    const auto path = std::filesystem::temp_directory_path() / "vokar-callui-silence.wav";
    const uint32_t bytes = 10 * 8000 * 2;
    std::ofstream(path, std::ios::binary)
        << platform::wav_header(bytes) << std::string(bytes, '\0');
    return path.string();
}

class CallScreensLiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stack.start() && stack.befriend()) << stack.error();
        // The far party first: from here on the test thread waits only while
        // pumping the GUI, which the client's threads may be sending to.
        far_client =
            std::make_unique<test::WholeClient>(stack, LiveUi::kAccounts[1], far_options());
        ASSERT_TRUE(far().log_in());
        ASSERT_TRUE(live.start()) << live.error();
        ASSERT_TRUE(live.log_in(me().user, me().password))
            << platform::to_utf8(ui().view().title) << " / "
            << platform::to_utf8(ui().view().message_text);
        if (!far_options().xmpp)
            return;
        // Each sees the other online, so calls between them go over Jingle.
        const std::wstring far_jid =
            far_number() + L"@" + platform::to_wide(stack.config().service_domain);
        ASSERT_TRUE(ui().wait_for(
            [&](const UiView&) {
                const auto f = live.program().friends().find(far_jid);
                return f && f->status == kStatusAvailable && far().sees_online(me().user, {});
            },
            kWaitMs));
    }
    // The far party logs in to both services unless a test says otherwise.
    virtual test::WholeClientOptions far_options() const { return {}; }

    static const test::XmppAccount& me() { return LiveUi::kAccounts[0]; }
    static std::wstring far_number() { return L"15550102"; }
    UiDriver& ui() { return live.driver(); }
    test::WholeClient& far() { return *far_client; }
    CallScreens& screens() { return live.client().call_screens(); }
    bool shows(int id, const std::wstring& text)
    {
        return ui().wait_for(
            [&](const UiView& v) { return v.control(id) && v.control(id)->text == text; }, kWaitMs);
    }
    bool titled(const std::wstring& title)
    {
        return ui().wait_for([&](const UiView& v) { return v.title == title; }, kWaitMs);
    }
    CallLogEntry newest_call()
    {
        const auto entries = live.program().call_log().entries();
        return entries.empty() ? CallLogEntry{} : entries.front();
    }
    // The far party's call of its nth message with this code, waiting while
    // pumping the GUI.
    std::shared_ptr<CallController> far_got(MessageCode code, size_t nth = 1)
    {
        if (!ui().wait_for([&](const UiView&) { return far().ui().count(code) >= nth; }, kWaitMs))
            return nullptr;
        return far().wait_for(code, std::chrono::milliseconds(0), nth);
    }

    test::FullStack stack{
        test::FullStackOptions{.extra_config = {}, .accounts = LiveUi::kAccounts}};
    LiveUi live{
        LiveUiOptions{.stack = &stack, .extra_config = {}, .audio = {silence_wav(), "none"}}};
    // Made once the stack runs: it takes the stack's configuration.
    std::unique_ptr<test::WholeClient> far_client;
};

TEST_F(CallScreensLiveTest, OutgoingCallAnsweredByTheFarParty)
{
    live.program().app().makeCall(far_number());
    ui().settle();
    ASSERT_TRUE(live.showing(screens().call_screen()))
        << platform::to_utf8(ui().view().title) << " / "
        << platform::to_utf8(ui().view().message_text);
    const auto answered = far_got(MessageCode::CallIncoming);
    ASSERT_NE(answered, nullptr);
    EXPECT_TRUE(shows(CallScreen::kStatus, L"Ringing..."));
    ui().screenshot("live_call_ringing");
    answered->answer();
    ASSERT_TRUE(shows(CallScreen::kStatus, L"Talking..."));
    ui().advance(2000);
    EXPECT_TRUE(shows(CallScreen::kDuration, L"00:02"));
    ui().screenshot("live_call_talking");

    // Key 5 reaches the far party as sound; the microphone is silent.
    EXPECT_EQ(far().heard_samples(), 0u);
    ui().press(Key::Digit5);
    EXPECT_TRUE(ui().wait_for([&](const UiView&) { return far().heard_samples() > 0; }, kWaitMs));

    ui().press(Key::SoftLeft); // Hangup
    EXPECT_NE(far_got(MessageCode::CallOver), nullptr);
    EXPECT_TRUE(shows(CallScreen::kStatus, L"Call Ended"));
    ui().advance(CallScreens::kBackDelayMs);
    EXPECT_TRUE(live.showing(live.client().main_screen()));
    const CallLogEntry logged = newest_call();
    EXPECT_EQ(logged.number, L"+" + far_number());
    EXPECT_EQ(logged.type, kCallOutgoing);
}

TEST_F(CallScreensLiveTest, IncomingCallsAcceptedRejectedAndGivenUp)
{
    // Accepted, then ended by the caller.
    auto call = far().program().app().makeCall(L"15550101");
    ASSERT_TRUE(titled(L"Vokar - Incoming Call"));
    EXPECT_TRUE(shows(IncomingCallScreen::kCaller, far_number()));
    ui().screenshot("live_incoming_call");
    ui().press(Key::SoftLeft); // Accept
    ASSERT_TRUE(shows(CallScreen::kStatus, L"Talking..."));
    EXPECT_EQ(newest_call().type, kCallIncoming);
    call->hangUp();
    // Over: the screen lets the call go and shows the far party's reason.
    ASSERT_TRUE(ui().wait_for(
        [&](const UiView&) { return screens().call_screen().call() == nullptr; }, kWaitMs));
    ui().screenshot("live_call_ended_by_far_party");
    ui().advance(CallScreens::kBackDelayMs);
    EXPECT_TRUE(live.showing(live.client().main_screen()));

    // Rejected: a missed call here, a rejected one there.
    call = far().program().app().makeCall(L"15550101");
    ASSERT_TRUE(titled(L"Vokar - Incoming Call"));
    ui().press(Key::SoftRight); // Reject
    EXPECT_TRUE(live.showing(live.client().main_screen()));
    EXPECT_EQ(newest_call().type, kCallMissed);
    ASSERT_NE(far_got(MessageCode::CallOver), nullptr);
    EXPECT_EQ(call->state(), CallController::kEnded);

    // The caller gives up while it rings: missed, and the screen goes.
    live.program().call_log().add(L"0000000", L"", kCallOutgoing); // an older entry on top
    call = far().program().app().makeCall(L"15550101");
    ASSERT_TRUE(titled(L"Vokar - Incoming Call"));
    call->hangUp();
    ASSERT_TRUE(ui().wait_for(
        [&](const UiView&) { return live.showing(live.client().main_screen()); }, kWaitMs));
    EXPECT_EQ(newest_call().number, L"+" + far_number());
    EXPECT_EQ(newest_call().type, kCallMissed);
}

// A far party without XMPP: the call cannot go over Jingle and goes out over SIP.
class SipCallScreensLiveTest : public CallScreensLiveTest {
protected:
    test::WholeClientOptions far_options() const override
    {
        test::WholeClientOptions options;
        options.xmpp = false;
        return options;
    }
};

TEST_F(SipCallScreensLiveTest, CallMovedToSipShowsTheOutgoingScreenUntilAnswered)
{
    live.program().app().makeCall(far_number());
    ASSERT_TRUE(titled(L"Vokar - Outgoing call"));
    ui().screenshot("live_outgoing_call");
    const auto answered = far_got(MessageCode::CallIncoming);
    ASSERT_NE(answered, nullptr);
    answered->answer();
    ASSERT_TRUE(shows(CallScreen::kStatus, L"Talking..."));
    EXPECT_TRUE(live.showing(screens().call_screen()));
    ui().press(Key::SoftLeft); // Hangup
    EXPECT_NE(far_got(MessageCode::CallOver), nullptr);
}

TEST_F(CallScreensLiveTest, SmsAndInvitationReachTheOperatorsOutbox)
{
    auto outbox = [&] {
        std::string error;
        auto store = operatord::AccountStore::open(stack.account_db(), &error);
        std::vector<operatord::OutboxMessage> rows;
        EXPECT_TRUE(store && store->outbox(&rows, &error)) << error;
        return rows;
    };
    // Check Balance on the main screen shows the service's answer.
    platform::post_message(ui().root().window(), code(UiMessage::Command),
                           command(CommandId::CHECK_BALANCE));
    ASSERT_TRUE(ui().wait_for(
        [](const UiView& v) {
            return v.message_kind == MessageKind::Information &&
                   v.message_text.find(L"5.00") != std::wstring::npos;
        },
        kWaitMs));
    ui().screenshot("live_balance");
    ui().press(Key::SoftLeft); // OK

    SendSmsScreen& sms = live.client().send_sms_screen();
    sms.show(L"15550177");
    ui().settle();
    ui().type(L"Hello from the live test");
    ui().press(Key::SoftLeft); // Send
    ASSERT_TRUE(
        ui().wait_for([](const UiView& v) { return v.message_text == L"Message sent"; }, kWaitMs));
    ui().press(Key::SoftLeft); // OK
    EXPECT_TRUE(live.showing(sms));
    EXPECT_TRUE(sms.recipient().empty());
    EXPECT_TRUE(sms.message().empty());
    auto rows = outbox();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].recipient, "15550177");
    EXPECT_EQ(rows[0].text, "Hello from the live test");
    EXPECT_FALSE(rows[0].invite);

    live.client().invite_screen().show(L"15550178");
    ui().settle();
    ui().press(Key::SoftLeft); // Send invitation
    ASSERT_TRUE(
        ui().wait_for([](const UiView& v) { return v.message_text == L"Invite sent"; }, kWaitMs));
    ui().screenshot("live_invite_sent");
    rows = outbox();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].recipient, "15550178");
    EXPECT_TRUE(rows[1].invite);
}

} // namespace
} // namespace vokar::ui::testing
