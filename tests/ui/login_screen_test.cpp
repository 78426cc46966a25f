#include "ui/screens/login_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/ui_messages.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class LoginScreenTest : public ::testing::Test {
protected:
    bool network = false;
    bool tunnel = false;
    bool autologin = false;
    std::wstring stored_password;
    std::vector<std::pair<std::wstring, std::wstring>> logins;
    int create_account = 0;
    int server_list_fetches = 0;

    UiDriver ui;
    LoginScreen& login = ui.root().add_screen<LoginScreen>(LoginScreen::Actions{
        .network_available = [this] { return network; },
        // Strips the typed '+', as the number normaliser does for a full number.
        .normalize = [](const std::wstring& typed) { return typed.substr(typed.find('+') + 1); },
        .log_in = [this](const std::wstring& u,
                         const std::wstring& p) { logins.emplace_back(u, p); },
        .stored_user = [] { return L"+"; },
        .stored_password = [this] { return stored_password; },
        .autologin = [this] { return autologin; },
        .udp_needs_tunnel = [this] { return tunnel; },
        .fetch_server_lists = [this] { ++server_list_fetches; },
        .create_account = [this] { ++create_account; },
        .open_main_screen = {},
    });

    void SetUp() override
    {
        ui.root().show_screen(login);
        ui.settle();
    }

    // Presses Login and returns the error shown, then dismisses it.
    std::wstring login_error()
    {
        ui.press(Key::SoftLeft);
        const UiView v = ui.view();
        if (v.message_kind != MessageKind::Error)
            return L"";
        ui.press(Key::SoftLeft); // OK
        return v.message_text;
    }

    // Types digits on the keypad.
    void dial(const std::wstring& digits)
    {
        for (wchar_t d : digits)
            ui.press(static_cast<Key>(d));
    }

    void network_status(bool available)
    {
        network = available;
        login.network_status_changed();
        ui.settle();
    }
};

TEST_F(LoginScreenTest, ShowsTitleFieldsAndSoftKeys)
{
    const UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Login");
    EXPECT_EQ(v.menu_id, 101);
    EXPECT_EQ(v.left.label, L"Login");
    EXPECT_EQ(v.right.label, L"Exit");
    EXPECT_EQ(v.focused_id, LoginScreen::kNumberEdit);
    ASSERT_NE(v.control(LoginScreen::kPasswordEdit), nullptr);
    EXPECT_EQ(v.control(LoginScreen::kNumberEdit)->text, L"+");
    EXPECT_EQ(v.control(LoginScreen::kCreateAccountLink)->caption +
                  v.control(LoginScreen::kCreateAccountLink)->text,
              L"Create a new account");
    ui.screenshot("login");
}

TEST_F(LoginScreenTest, LoginChecksNetworkThenUsernameThenPassword)
{
    EXPECT_EQ(login_error(), L"No connection is available");
    network = true;
    dial(L"1"); // "+1" normalises to one character
    EXPECT_EQ(login_error(), L"Please enter a valid username");
    dial(L"5550100");
    EXPECT_EQ(login_error(), L"Please enter a valid password");
    EXPECT_TRUE(logins.empty());

    EXPECT_EQ(ui.view().focused_id, LoginScreen::kNumberEdit); // fields kept
    ui.press(Key::Down);
    ui.type(L"secret");
    const UiView v = ui.view();
    EXPECT_EQ(v.control(LoginScreen::kPasswordEdit)->shown, L"******");
    ui.press(Key::SoftLeft);
    ui.screenshot("login_started");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].first, L"15550100");
    EXPECT_EQ(logins[0].second, L"secret");
}

TEST_F(LoginScreenTest, NetworkStatusUpdatesFooterWarnsAndFetchesServerLists)
{
    const auto footer = [&] {
        const UiView v = ui.view();
        return v.control(LoginScreen::kFooter)->text;
    };
    EXPECT_EQ(footer(), L"Establishing Connection");
    login.network_check(true);
    EXPECT_EQ(footer(), L"Checking the network") << "the probe may take half a minute";
    login.network_check(false);
    EXPECT_EQ(footer(), L"Establishing Connection");
    network_status(true);
    const UiView v = ui.view();
    EXPECT_EQ(v.control(LoginScreen::kFooter)->text, L"Connection Established");
    EXPECT_EQ(ui.view().message_kind, MessageKind::None);
    EXPECT_EQ(server_list_fetches, 1);

    tunnel = true;
    network_status(true);
    EXPECT_EQ(ui.view().message_kind, MessageKind::Warning);
    EXPECT_EQ(ui.view().message_text,
              L"Your connection is restricted, as a result some services may be unreliable");
    ui.screenshot("login_restricted");
    EXPECT_TRUE(logins.empty()); // no automatic login unless asked for
}

TEST_F(LoginScreenTest, AutologinPressesLoginWhenTheNetworkComes)
{
    autologin = true;
    network_status(false);
    EXPECT_EQ(ui.view().message_kind, MessageKind::None);
    dial(L"5550100");
    network_status(true); // no stored password
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid password");
    ui.press(Key::SoftLeft);
    ui.press(Key::Down);
    ui.type(L"pw");
    network_status(true);
    ui.screenshot("login_autologin");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].first, L"5550100");
}

TEST_F(LoginScreenTest, LinkOpensCreateAccountAndExitEndsTheProgram)
{
    ui.press(Key::Down);
    ui.press(Key::Down);
    EXPECT_EQ(ui.view().focused_id, LoginScreen::kCreateAccountLink);
    ui.press(Key::Action);
    EXPECT_EQ(create_account, 1);
    ui.press(Key::SoftRight);
    EXPECT_TRUE(ui.view().ended);
    EXPECT_EQ(ui.view().end_result, kEndApplication);
}

} // namespace
} // namespace vokar::ui::testing
