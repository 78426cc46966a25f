// Leaving the windowed client with Back on its only screen.

#include <gtest/gtest.h>

#include "base/reactor.h"
#include "live_ui.h"
#include "tests/support/live_client.h"
#include "ui/ui_messages.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

TEST(ClientExit, BackOnTheLoginScreenFirstEmptiesTheFieldThenEnds)
{
    LiveUi live;
    ASSERT_TRUE(live.start()) << live.error();
    ASSERT_EQ(live.driver().view().focused_id, LoginScreen::kNumberEdit);
    live.driver().press(Key::Digit1);
    live.driver().press(Key::Digit2);
    live.driver().press(Key::Back);
    live.driver().press(Key::Back);
    EXPECT_FALSE(live.driver().view().ended) << "Back deletes what was typed first";
    live.driver().press(Key::Back); // the default "+"
    live.driver().press(Key::Back);
    const UiView v = live.driver().view();
    EXPECT_TRUE(v.ended);
    EXPECT_EQ(v.end_result, kEndApplication);
}

TEST(ClientExit, BackOnTheMainScreenEndsTheProgramWhichLogsOut)
{
    test::FullStack stack({.extra_config = {}, .accounts = LiveUi::kAccounts});
    ASSERT_TRUE(stack.start()) << stack.error();
    ASSERT_TRUE(stack.befriend()) << stack.error();
    platform::ManualClock keep_alive_clock;
    Reactor reactor(keep_alive_clock, false);
    test::LiveClient watcher(stack.xmpp(), LiveUi::kAccounts[1], reactor);
    ASSERT_TRUE(watcher.log_in());
    const std::string jid = LiveUi::kAccounts[0].user + "@" + stack.xmpp().domain();

    LiveUi live(stack);
    ASSERT_TRUE(live.start()) << live.error();
    ASSERT_TRUE(live.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password));
    const auto seen = [&](int status) {
        return live.pump_until([&] {
            return watcher.wait_for(
                [&](int code, const JabberEvent& e) {
                    for (const auto& u : e.updates)
                        if (code == kEventPresence && u.jid == jid && u.status == status)
                            return true;
                    return false;
                },
                std::chrono::milliseconds(0));
        });
    };
    ASSERT_TRUE(seen(kStatusAvailable)) << watcher.history();

    live.driver().press(Key::Back);
    const UiView v = live.driver().view();
    ASSERT_TRUE(v.ended);
    EXPECT_EQ(v.end_result, kEndApplication);
    live.stop();
    // The client is gone: nothing waits for the GUI any more.
    EXPECT_TRUE(watcher.wait_for_status(jid, kStatusOffline)) << watcher.history();
}

} // namespace
} // namespace vokar::ui::testing
