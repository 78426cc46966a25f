// The windowed client's account requests to the operator's web service: the
// server lists on start-up and the sign-up on Create Account.

#include <gtest/gtest.h>

#include "live_ui.h"
#include "platform/text.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class ClientAccountTest : public ::testing::Test {
protected:
    LiveUi live;

    void SetUp() override
    {
        ASSERT_TRUE(live.start()) << live.error();
        ASSERT_TRUE(live.wait_for_network());
    }

    UiDriver& ui() { return live.driver(); }

    void focus(int id)
    {
        for (int i = 0; i < 6 && ui().view().focused_id != id; ++i)
            ui().press(Key::Down);
        ASSERT_EQ(ui().view().focused_id, id);
    }

    // Fills Create Account from the login screen and presses OK; waits for the
    // service's answer on the message screen.
    void sign_up(const std::wstring& country, const std::wstring& digits,
                 const std::wstring& password)
    {
        focus(LoginScreen::kCreateAccountLink);
        ui().press(Key::Action);
        ASSERT_EQ(ui().view().title, L"Vokar - Create Account");
        focus(CreateAccountScreen::kCountry);
        ui().press(Key::Action);
        ui().type(country);
        ui().press(Key::SoftLeft);
        focus(CreateAccountScreen::kNumberEdit);
        for (wchar_t d : digits)
            ui().press(static_cast<Key>(d));
        focus(CreateAccountScreen::kPasswordEdit);
        ui().type(password);
        focus(CreateAccountScreen::kEmailEdit);
        ui().type(L"new@example.test");
        ui().press(Key::SoftLeft);
        ASSERT_TRUE(
            ui().wait_for([](const UiView& v) { return v.message_kind != MessageKind::None; }));
    }
};

TEST_F(ClientAccountTest, ServerListsOfTheWebServiceAreStored)
{
    SettingsStore& settings = live.program().settings();
    const platform::OperatorConfig& config = live.stack().config();
    ASSERT_TRUE(ui().wait_for([&](const UiView&) {
        return !settings.server_list(SettingsStore::kStunList).entries().empty();
    }));
    EXPECT_EQ(settings.server_list(SettingsStore::kWebList).entries(),
              (std::vector<ServerEndpoint>{{config.web_host, config.web_port}}));
    EXPECT_EQ(settings.server_list(SettingsStore::kXmppList).entries(),
              (std::vector<ServerEndpoint>{{config.xmpp_host, config.xmpp_port}}));
}

TEST_F(ClientAccountTest, NewAccountFillsTheLoginScreenAndLogsIn)
{
    sign_up(L"usa", L"5550199", L"fresh-pass");
    UiView v = ui().view();
    EXPECT_EQ(v.message_kind, MessageKind::Information);
    EXPECT_EQ(v.message_text, L"Welcome to Vokar! Your account 15550199 is ready.");
    ui().screenshot("create_account_done");
    ui().press(Key::SoftLeft);
    v = ui().view();
    ASSERT_TRUE(live.showing(live.client().login_screen()));
    EXPECT_EQ(v.control(LoginScreen::kNumberEdit)->text, L"+15550199");
    EXPECT_EQ(v.control(LoginScreen::kPasswordEdit)->text, L"fresh-pass");
    ui().press(Key::SoftLeft);
    EXPECT_TRUE(live.wait_for_main_screen()) << platform::to_utf8(ui().view().message_text);
}

TEST_F(ClientAccountTest, TakenNumberIsRefusedAndLeavesTheLoginScreenAlone)
{
    const UiView before = ui().view();
    sign_up(L"usa", L"5550101", L"other-pass"); // LiveUi::kAccounts[0]
    UiView v = ui().view();
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.message_text, L"Account creation failed");
    ui().press(Key::SoftLeft);
    v = ui().view();
    ASSERT_TRUE(live.showing(live.client().login_screen()));
    EXPECT_EQ(v.control(LoginScreen::kNumberEdit)->text,
              before.control(LoginScreen::kNumberEdit)->text);
    EXPECT_EQ(v.control(LoginScreen::kPasswordEdit)->text, L"");
}

} // namespace
} // namespace vokar::ui::testing
