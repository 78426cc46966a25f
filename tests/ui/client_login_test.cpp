// The windowed client logs in through its login screen against the whole
// operator stack.

#include <gtest/gtest.h>

#include "live_ui.h"
#include "platform/text.h"

namespace vokar::ui::testing {
namespace {

TEST(ClientLogin, TypedCredentialsReachTheMainScreenAndAreStored)
{
    LiveUi live;
    ASSERT_TRUE(live.start()) << live.error();
    const test::XmppAccount& account = LiveUi::kAccounts[0];
    ASSERT_TRUE(live.log_in(account.user, account.password))
        << platform::to_utf8(live.driver().view().message_text);
    const UiView v = live.driver().view();
    EXPECT_EQ(v.title, L"Vokar - Contacts");
    EXPECT_EQ(v.depth, 1u);
    EXPECT_TRUE(
        live.driver().wait_for([&](const UiView&) { return live.program().app().loggedIn(); }));
    EXPECT_EQ(live.program().settings().get(&Settings::username), L"15550101");
    live.driver().screenshot("main_after_login");
}

TEST(ClientLogin, WrongPasswordShowsTheErrorInsteadOfTheProgress)
{
    LiveUi live;
    ASSERT_TRUE(live.start()) << live.error();
    EXPECT_FALSE(live.log_in(LiveUi::kAccounts[0].user, "not-the-password"));
    const UiView v = live.driver().view();
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.message_text, L"Invalid username or password");
    live.driver().screenshot("login_wrong_password");
    live.driver().press(platform::Key::SoftLeft);
    EXPECT_TRUE(live.showing(live.client().login_screen()));
}

TEST(ClientLogin, NetworkStatusOnTheMainScreenDoesNotLogInAgain)
{
    LiveUi live;
    ASSERT_TRUE(live.start()) << live.error();
    ASSERT_TRUE(live.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password));
    live.program().settings().set(&Settings::autologin, true);
    // The monitor's news of a changed bearer, handled at once on this thread.
    platform::post_message(live.driver().root().window(), code(MessageCode::BearerLabelChanged));
    live.driver().settle();
    EXPECT_TRUE(live.showing(live.client().main_screen())) << "logging in again over the session";
    EXPECT_EQ(live.driver().view().depth, 1u);
}

TEST(ClientLogin, FirstLoginOfAFreshInstallationAsksToImportImAccountsOnce)
{
    LiveUi live({.stack = nullptr,
                 .extra_config = {},
                 .audio = {"none", "none"},
                 .alert_out = "none",
                 .first_run = true});
    ASSERT_TRUE(live.start()) << live.error();
    ASSERT_TRUE(live.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password));
    ASSERT_TRUE(live.pump_until([&] { return live.showing(live.client().question_screen()); }));
    EXPECT_EQ(live.driver().view().title, L"Instant Messaging");
    live.driver().screenshot("import_question");
    live.driver().press(platform::Key::SoftRight); // No
    EXPECT_TRUE(live.showing(live.client().main_screen()));
    EXPECT_FALSE(live.program().settings().get(&Settings::first_run));
}

} // namespace
} // namespace vokar::ui::testing
