#include "app/client_ui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class ClientUiTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& login = ui.root().add_screen<TestScreen>(L"Vokar - Login", 101);
    TestScreen& main = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    app::ClientUi client_ui{ui.root()};

    void SetUp() override
    {
        client_ui.set_screens(app::ClientUi::Screens{
            .login = &login,
            .main = &main,
            .on_progress_command = {},
            .ask_import_accounts = {},
            .show_new_version = {},
            .network_check = {},
        });
        ui.root().show_screen(login);
        ui.settle();
    }

    // Runs `fn` on a thread of the core's while the GUI thread keeps pumping.
    template <class F> void from_core_thread(F fn)
    {
        std::atomic<bool> done{false};
        std::thread t([&] {
            fn();
            done = true;
            platform::post_message(ui.root().window(), code(UiMessage::Repaint));
        });
        ui.wait_for([&](const UiView&) { return done.load(); });
        t.join();
        ui.settle();
    }
};

TEST_F(ClientUiTest, LoginFailureReplacesTheProgressScreen)
{
    from_core_thread([&] { client_ui.show_progress(StringId::PROGRESS_LOGGING_IN); });
    EXPECT_EQ(ui.view().title, L"Vokar - Logging in");
    bool current = false;
    from_core_thread([&] { current = client_ui.progress_screen_current(); });
    EXPECT_TRUE(current);

    from_core_thread([&] {
        client_ui.show_message(StringId::LOGIN_ERROR_BAD_CREDENTIALS, StringId::ERROR_TITLE);
    });
    UiView v = ui.view();
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.message_text, L"Invalid username or password");
    EXPECT_EQ(v.depth, 2u); // in the progress screen's place
    ui.screenshot("login_failed");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().title, L"Vokar - Login");
}

TEST_F(ClientUiTest, MainScreenBecomesTheOnlyScreen)
{
    from_core_thread([&] { client_ui.show_progress(StringId::PROGRESS_LOGGING_IN); });
    from_core_thread([&] { client_ui.show_main_screen(); });
    EXPECT_EQ(ui.view().title, L"Vokar");
    EXPECT_EQ(ui.view().depth, 1u);
}

} // namespace
} // namespace vokar::ui::testing
