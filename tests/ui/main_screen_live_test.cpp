// The main screen's Friends page against the whole operator stack, with a
// far party on the XMPP service.

#include <gtest/gtest.h>

#include "base/reactor.h"
#include "live_ui.h"
#include "platform/text.h"
#include "tests/support/live_client.h"
#include "tests/support/whole_client.h"
#include "ui/screens/call_screens.h"
#include "ui/screens/friends_screens.h"
#include "ui/screens/main_screen.h"
#include "ui/screens/notices.h"
#include "ui/ui_messages.h"

namespace vokar::ui::testing {
namespace {

using namespace std::chrono_literals;
using platform::Key;

class MainScreenLive : public ::testing::Test {
protected:
    test::FullStack stack{{.extra_config = {}, .accounts = LiveUi::kAccounts}};
    platform::ManualClock keep_alive_clock;
    Reactor reactor{keep_alive_clock, false};
    std::unique_ptr<test::LiveClient> far;
    std::unique_ptr<LiveUi> live;

    std::string jid(size_t account)
    {
        return LiveUi::kAccounts[account].user + "@" + stack.xmpp().domain();
    }
    std::wstring far_jid() { return platform::to_wide(jid(1)); }
    void far_log_in()
    {
        far = std::make_unique<test::LiveClient>(stack.xmpp(), LiveUi::kAccounts[1], reactor);
        ASSERT_TRUE(far->log_in());
    }
    void near_log_in()
    {
        live = std::make_unique<LiveUi>(stack);
        ASSERT_TRUE(live->start()) << live->error();
        ASSERT_TRUE(live->log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password))
            << platform::to_utf8(live->driver().view().title) << " / "
            << platform::to_utf8(live->driver().view().message_text);
        live->driver().press(Key::Left); // Contacts wraps to Friends
        ASSERT_EQ(live->driver().view().title, L"Vokar - Friends");
    }
    UiDriver& ui() { return live->driver(); }
    MainScreens& screens() { return live->client().main_screens(); }
    void command(CommandId c)
    {
        ui().root().dialog_proc({code(UiMessage::Command), ui::command(c), 0});
        ui().settle();
    }
    void press_digits(const std::string& digits)
    {
        for (char c : digits)
            ui().press(static_cast<Key>(c));
    }
    // Waits, pumping the GUI, until the far party has recorded a matching event.
    bool far_saw(const test::LiveClient::Match& match)
    {
        return live->pump_until([&] { return far->wait_for(match, 0ms); }, 15000);
    }
    bool far_got_message(const std::string& text)
    {
        return far_saw([&](int code, const JabberEvent& e) {
            return code == kEventChatMessage && e.text == text && e.jid == jid(0);
        });
    }
    bool near_chat_has(const std::wstring& line)
    {
        return live->pump_until([&] {
            const auto& lines = screens().chats().lines(far_jid());
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    }
    // A copy of the control's view (empty when it is not shown).
    ControlView field(int id)
    {
        const UiView v = ui().view();
        const ControlView* c = v.control(id);
        return c ? *c : ControlView{};
    }
    int far_status_at_near()
    {
        const auto f = live->program().friends().find(far_jid());
        return f ? f->status : -1;
    }
};

TEST_F(MainScreenLive, AddedFriendIsAcceptedChatsBothWaysAndSeesTheCustomStatus)
{
    ASSERT_TRUE(stack.start()) << stack.error();
    far_log_in();
    near_log_in();
    EXPECT_TRUE(live->pump_until(
        [&] { return field(FriendsPage::kList).shown.starts_with(L"No friends added yet."); }));
    ui().screenshot("live_friends_none_added");

    command(CommandId::ADD_FRIEND_VOKAR);
    press_digits(LiveUi::kAccounts[1].user);
    command(CommandId::ADD_FRIEND);
    EXPECT_EQ(ui().view().message_text,
              L"Friend has been added, they must now confirm you as a friend");
    ui().press(Key::SoftLeft);
    ASSERT_TRUE(far_saw([&](int code, const JabberEvent& e) {
        return code == kEventPresence && !e.updates.empty() && e.updates[0].jid == jid(0) &&
               e.updates[0].status == kStatusPending;
    })) << far->history();
    (*far)->acceptContact(jid(0), LiveUi::kAccounts[0].user, "");
    ASSERT_TRUE(live->pump_until([&] { return far_status_at_near() == kStatusAvailable; }))
        << far_status_at_near();
    ui().screenshot("live_friend_accepted");

    // Inline chat, both ways.
    live->program().friends().select(0);
    ui().type(L"hello far");
    ui().press(Key::SoftLeft); // Send
    EXPECT_TRUE(far_got_message("hello far"));
    (*far)->sendMessage(jid(0), "hello near");
    EXPECT_TRUE(near_chat_has(L"15550102: hello near"));
    ui().screenshot("live_friends_inline_chat");

    // Full-screen chat, both ways.
    command(CommandId::FULL_SCREEN_CHAT);
    ASSERT_EQ(ui().view().title, L"Vokar - Full Screen Chat");
    ui().type(L"and again");
    ui().press(Key::SoftLeft);
    EXPECT_TRUE(far_got_message("and again"));
    (*far)->sendMessage(jid(0), "still here");
    EXPECT_TRUE(near_chat_has(L"15550102: still here"));
    EXPECT_EQ(screens().chats().lines(far_jid()),
              (ChatView::Lines{L"Me: hello far", L"15550102: hello near", L"Me: and again",
                               L"15550102: still here"}));
    ui().screenshot("live_full_screen_chat");
    ui().press(Key::SoftRight); // Back

    // A custom status reaches the friend and is kept in the settings.
    command(CommandId::CUSTOM_STATUS);
    ui().type(L"At lunch");
    ui().press(Key::SoftLeft);
    EXPECT_EQ(ui().view().message_text, L"Status changed to At lunch");
    EXPECT_TRUE(far_saw([&](int code, const JabberEvent& e) {
        if (code != kEventPresence)
            return false;
        for (const auto& u : e.updates)
            if (u.jid == jid(0) && u.status_text.starts_with("At lunch"))
                return true;
        return false;
    })) << far->history();
    EXPECT_EQ(live->program().settings().get(&Settings::status_message), L"At lunch");
}

TEST_F(MainScreenLive, FriendRequestIsAskedAboutAndAccepted)
{
    ASSERT_TRUE(stack.start()) << stack.error();
    far_log_in();
    near_log_in();
    (*far)->addContact(kNetworkService, LiveUi::kAccounts[0].user, "", "");
    ASSERT_TRUE(live->pump_until([&] {
        return field(FriendRequestScreen::kText).text == L"Accept this person as your friend?";
    }));
    EXPECT_EQ(ui().view().title, L"15550102");
    ui().screenshot("live_friend_request");
    ui().press(Key::SoftLeft); // Yes
    EXPECT_EQ(ui().view().message_text,
              L"Friend request accepted, this may take some time to update");
    ui().press(Key::SoftLeft);
    EXPECT_TRUE(far_saw([&](int code, const JabberEvent& e) {
        if (code != kEventPresence)
            return false;
        for (const auto& u : e.updates)
            if (u.jid == jid(0) && u.status == kStatusAvailable)
                return true;
        return false;
    })) << far->history();
    EXPECT_TRUE(live->pump_until([&] { return far_status_at_near() == kStatusAvailable; }));
}

TEST_F(MainScreenLive, HollerToAnOfflineFriendArrivesAtItsNextLogin)
{
    ASSERT_TRUE(stack.start()) << stack.error();
    ASSERT_TRUE(stack.befriend()) << stack.error();
    near_log_in();
    ASSERT_TRUE(live->pump_until([&] { return far_status_at_near() == kStatusOffline; }));
    live->program().friends().select(0);
    command(CommandId::HOLLER_FRIEND);
    EXPECT_TRUE(live->pump_until([&] { return ui().view().message_kind != MessageKind::None; }))
        << platform::to_utf8(ui().view().title);
    ui().screenshot("live_holler_answered");
    ui().press(Key::SoftLeft);

    far_log_in();
    const auto hollers = far->retrieve_hollers();
    ASSERT_TRUE(hollers.has_value());
    EXPECT_TRUE(std::any_of(hollers->begin(), hollers->end(), [](const std::string& s) {
        return s.find(LiveUi::kAccounts[0].user) != std::string::npos;
    })) << hollers->size();
    // The hollered friend coming online is announced.
    EXPECT_TRUE(live->pump_until([&] { return ui().view().title == L"Holler"; }));
    EXPECT_EQ(field(HollerScreen::kHeading).text, L"15550102 is now online.");
    ui().screenshot("live_holler_friend_online");
}

TEST_F(MainScreenLive, CallsFromTheFriendsPageAndTheDialerReachTheFarParty)
{
    ASSERT_TRUE(stack.start()) << stack.error();
    ASSERT_TRUE(stack.befriend()) << stack.error();
    test::WholeClient callee(stack, LiveUi::kAccounts[1]);
    ASSERT_TRUE(callee.log_in());
    near_log_in();
    ASSERT_TRUE(live->pump_until([&] { return far_status_at_near() == kStatusAvailable; }));
    const auto incoming = [&](size_t n) {
        return live->pump_until([&] { return callee.ui().count(MessageCode::CallIncoming) >= n; },
                                15000);
    };
    const auto hang_up = [&] {
        CallScreens& calls = live->client().call_screens();
        ASSERT_TRUE(live->showing(calls.call_screen()));
        ui().press(Key::SoftLeft); // Hangup
        ASSERT_TRUE(
            live->pump_until([&] { return callee.ui().count(MessageCode::CallOver) >= 1; }, 15000));
        ui().advance(CallScreens::kBackDelayMs);
    };

    live->program().friends().select(0);
    ui().press(Key::Talk);
    EXPECT_TRUE(incoming(1));
    hang_up();

    // Contacts page: a digit opens the dialer.
    live->client().main_screens().main().show(0);
    ui().settle();
    press_digits(LiveUi::kAccounts[1].user);
    EXPECT_EQ(ui().view().title, L"Vokar - Touch Dialer");
    ui().press(Key::SoftLeft); // Dial
    EXPECT_TRUE(incoming(2));
}

} // namespace
} // namespace vokar::ui::testing
