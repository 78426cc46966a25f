#include "ui/screens/call_screens.h"

#include <gtest/gtest.h>

#include "account/call_log.h"
#include "account/settings_store.h"
#include "app/client_ui.h"
#include "core/phone_interface.h"
#include "test_screen.h"
#include "tests/support/scratch.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

// Counts what the screens ask of the phone that owns a call.
class CountingPhone final : public PhoneInterface {
public:
    void login(const std::string&, const std::string&) override {}
    void logout() override {}
    void placeCall(CallController*) override {}
    void ringing(CallController*) override {}
    void accept(CallController*) override { ++accepts; }
    void reject(CallController*) override { ++rejects; }
    void hangUp(CallController*) override { ++hangups; }
    int accepts = 0, rejects = 0, hangups = 0;
};

struct LoggedCall {
    std::wstring number;
    int type;
    bool operator==(const LoggedCall&) const = default;
};

// The call screens over calls whose phones only count, with the messages the
// calls send and post going through the root's window as in the client.
class CallScreensTest : public ::testing::Test {
protected:
    std::string dir = test::make_temp_directory("vokar-callui");
    platform::OperatorConfig config;
    SettingsStore settings{dir + "/__settings", config};
    UiDriver ui;
    app::ClientUi controller_ui{ui.root()};
    CountingPhone jingle, sip;
    std::vector<LoggedCall> log;
    std::vector<int> tones;
    int saves = 0, released = 0, raised = 0;

    TestScreen& home = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    CallScreens screens{
        ui.root(), CallScreens::Services{
                       .jingle_phone = &jingle,
                       .log_call =
                           [this](const std::wstring& number, const std::wstring&, int type) {
                               log.push_back({number, type});
                           },
                       .call_volume = [this] { return settings.get(&Settings::volume); },
                       .save_settings = [this] { ++saves; },
                       .release = [this](std::shared_ptr<CallController>) { ++released; },
                       .show_home = [this] { ui.root().reset_to_screen(home); },
                       .raise_window = [this] { ++raised; },
                       .key_tone = [this](CallController&, int tone) { tones.push_back(tone); },
                   }};

    void SetUp() override
    {
        ui.root().set_global_handler(
            [this](const platform::Message& m) { return screens.handle_event(m); });
        ui.root().show_screen(home);
        ui.settle();
    }
    void TearDown() override { test::remove_directory(dir); }

    // A call placed from the dialer, announced as the core announces it.
    std::shared_ptr<CallController> outgoing()
    {
        auto call = std::make_shared<CallController>(env(), &jingle, false);
        call->setNumber(L"+15550123", L"Alice");
        controller_ui.send_message(MessageCode::CallCreated,
                                   reinterpret_cast<uintptr_t>(call.get()));
        ui.settle();
        return call;
    }
    std::shared_ptr<CallController> incoming()
    {
        auto call = std::make_shared<CallController>(env(), &jingle, true);
        call->incoming("15550199");
        ui.settle();
        return call;
    }
    CallEnvironment env() { return CallEnvironment{controller_ui, settings, {}, {}}; }
    std::wstring shown(int id)
    {
        const UiView v = ui.view();
        const ControlView* c = v.control(id);
        return c ? c->text : L"(none)";
    }
    std::wstring title() { return ui.view().title; }
};

TEST_F(CallScreensTest, OutgoingCallShowsItsStatesCountsTalkTimeAndGoesBackAfterItEnds)
{
    const auto call = outgoing();
    EXPECT_EQ(title(), L"Vokar - Call");
    EXPECT_EQ(shown(CallScreen::kName), L"Alice");
    EXPECT_EQ(shown(CallScreen::kStatus), L"Establishing Call...");
    EXPECT_EQ(shown(CallScreen::kDuration), L"00:00");
    EXPECT_EQ(ui.view().menu_id, 131);
    call->ringing();
    ui.settle();
    EXPECT_EQ(shown(CallScreen::kStatus), L"Ringing...");
    ui.screenshot("call_ringing");

    call->connected({});
    ui.settle();
    EXPECT_EQ(shown(CallScreen::kStatus), L"Talking...");
    EXPECT_EQ(ui.view().menu_id, 115);
    ui.advance(1000);
    EXPECT_EQ(shown(CallScreen::kDuration), L"00:01");
    for (int i = 0; i < 64; ++i)
        ui.advance(1000);
    EXPECT_EQ(shown(CallScreen::kDuration), L"01:05");

    // Digits and # play their tones; * plays none.
    ui.press(Key::Digit5);
    ui.press(Key::Star);
    ui.press(Key::Hash);
    ui.press(Key::Digit0);
    EXPECT_EQ(tones, (std::vector<int>{5, 10, 0}));

    // The volume goes to the call, which stores it as the call volume.
    ASSERT_EQ(settings.get(&Settings::volume), 3);
    ui.press(Key::Right);
    EXPECT_EQ(settings.get(&Settings::volume), 4);
    const UiView v = ui.view();
    EXPECT_EQ(v.control(CallScreen::kVolume)->selection, 4);
    ui.screenshot("call_talking");

    call->ended(L"Call Ended - Busy");
    ui.settle();
    EXPECT_EQ(shown(CallScreen::kStatus), L"Call Ended - Busy");
    EXPECT_EQ(saves, 1);
    ui.screenshot("call_ended");
    ui.advance(499); // the counter has stopped; the screen is still up
    EXPECT_EQ(shown(CallScreen::kDuration), L"01:05");
    ui.advance(1);
    EXPECT_EQ(title(), L"Vokar");
    EXPECT_EQ(released, 1);
    EXPECT_EQ(screens.call_screen().call(), nullptr);
}

TEST_F(CallScreensTest, EndKeyHangsUpOnKeyUpAndRaisesTheWindow)
{
    const auto call = outgoing();
    call->connected({});
    ui.settle();
    ui.window().push_input({platform::InputEvent::Type::KeyDown, Key::End, {}});
    ui.settle();
    EXPECT_EQ(jingle.hangups, 0);
    ui.window().push_input({platform::InputEvent::Type::KeyUp, Key::End, {}});
    ui.settle();
    EXPECT_EQ(jingle.hangups, 1);
    EXPECT_EQ(call->state(), CallController::kEnded);
    EXPECT_EQ(shown(CallScreen::kStatus), L"Call Ended");
    ui.advance(149);
    EXPECT_EQ(raised, 0);
    ui.advance(1);
    EXPECT_EQ(raised, 1);
    ui.advance(350);
    EXPECT_EQ(title(), L"Vokar");

    // Hangup on the soft key of a second call.
    const auto second = outgoing();
    second->connected({});
    ui.settle();
    ui.press(Key::SoftLeft);
    EXPECT_EQ(jingle.hangups, 2);
    EXPECT_EQ(released, 1); // the first; the second after 500 ms
    ui.advance(500);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(title(), L"Vokar");
}

TEST_F(CallScreensTest, CallEndingUnderAnotherScreenShowsItsEndTextWithoutGoingBack)
{
    const auto call = outgoing();
    call->connected({});
    ui.settle();
    TestScreen& other = ui.root().add_screen<TestScreen>(L"Other", 113);
    ui.root().show_screen(other);
    ui.settle();
    call->ended(L"Call Ended - Timed Out");
    ui.settle();
    ui.advance(500);
    EXPECT_EQ(title(), L"Other");
    EXPECT_EQ(released, 1);
    ui.root().back();
    ui.settle();
    EXPECT_EQ(title(), L"Vokar - Call");
    EXPECT_EQ(shown(CallScreen::kStatus), L"Call Ended - Timed Out");
    ui.advance(1000);
    EXPECT_EQ(title(), L"Vokar - Call"); // stays until the user leaves it
    ui.press(Key::SoftLeft);
    EXPECT_EQ(title(), L"Vokar");
}

TEST_F(CallScreensTest, IncomingCallsAreLoggedAnsweredOrMissed)
{
    auto call = incoming();
    EXPECT_EQ(title(), L"Vokar - Incoming Call");
    EXPECT_EQ(ui.view().menu_id, 119);
    EXPECT_EQ(shown(IncomingCallScreen::kText), L"Incoming Vokar Call");
    EXPECT_EQ(shown(IncomingCallScreen::kCaller), L"15550199");
    ui.screenshot("incoming_call");
    ui.press(Key::SoftLeft); // Accept
    EXPECT_EQ(jingle.accepts, 1);
    EXPECT_EQ(log, (std::vector<LoggedCall>{{L"15550199", kCallIncoming}}));
    EXPECT_EQ(title(), L"Vokar - Call");
    EXPECT_EQ(shown(CallScreen::kStatus), L"Ringing...");
    call->connected({});
    ui.settle();
    EXPECT_EQ(shown(CallScreen::kStatus), L"Talking...");
    ui.press(Key::SoftLeft); // Hangup
    ui.advance(500);
    EXPECT_EQ(title(), L"Vokar");

    // Rejected.
    log.clear();
    call = incoming();
    ui.press(Key::SoftRight);
    EXPECT_EQ(jingle.rejects, 1);
    EXPECT_EQ(call->state(), CallController::kEnded);
    EXPECT_EQ(log, (std::vector<LoggedCall>{{L"15550199", kCallMissed}}));
    EXPECT_EQ(title(), L"Vokar");
    EXPECT_EQ(ui.view().depth, 1u);

    // The caller gives up while it rings.
    log.clear();
    call = incoming();
    call->ended(L"Call Ended - Cancelled");
    ui.settle();
    EXPECT_EQ(log, (std::vector<LoggedCall>{{L"15550199", kCallMissed}}));
    EXPECT_EQ(title(), L"Vokar");
    EXPECT_EQ(screens.incoming_screen().call(), nullptr);
    EXPECT_EQ(jingle.accepts + jingle.rejects, 2);
}

TEST_F(CallScreensTest, CallMovedToSipShowsTheOutgoingScreenUntilItConnects)
{
    auto call = outgoing();
    ASSERT_TRUE(call->moveTo(&sip));
    ui.settle();
    EXPECT_EQ(title(), L"Vokar - Outgoing call");
    EXPECT_EQ(ui.view().menu_id, 117);
    EXPECT_EQ(shown(OutgoingCallScreen::kExternal), L"Call to external network");
    EXPECT_EQ(shown(OutgoingCallScreen::kCharged), L"This call will be charged for");
    ui.screenshot("outgoing_call");
    call->ringing();
    ui.settle();
    EXPECT_EQ(title(), L"Vokar - Outgoing call");
    call->connected({});
    ui.settle();
    EXPECT_EQ(title(), L"Vokar - Call");
    EXPECT_EQ(shown(CallScreen::kStatus), L"Talking...");
    call->ended(L"Call Ended");
    ui.advance(500);

    // Reject cancels the call and returns to the root screen.
    call = outgoing();
    ASSERT_TRUE(call->moveTo(&sip));
    ui.settle();
    ui.press(Key::SoftLeft);
    EXPECT_EQ(sip.hangups, 1);
    EXPECT_EQ(title(), L"Vokar");
    EXPECT_EQ(ui.view().depth, 1u);

    // A call that connects before the move is shown goes straight on.
    call = outgoing();
    ASSERT_TRUE(call->moveTo(&sip));
    call->connected({});
    ui.settle();
    EXPECT_EQ(title(), L"Vokar - Call");
}

} // namespace
} // namespace vokar::ui::testing
