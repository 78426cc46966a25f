#include <gtest/gtest.h>

#include <thread>

#include "test_screen.h"
#include "ui/login_footer.h"
#include "ui/message_screen.h"
#include "ui/progress_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class MessageTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& login = ui.root().add_screen<TestScreen>(L"Vokar - Login", 101);
    TestScreen& other = ui.root().add_screen<TestScreen>(L"Other", 112);

    void SetUp() override
    {
        ui.root().show_screen(login);
        ui.settle();
    }
};

TEST_F(MessageTest, ErrorIsShownOverTheScreenAndOkGoesBack)
{
    ui.root().message(L"Please enter a valid password", MessageKind::Error);
    ui.settle();
    UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Error");
    EXPECT_EQ(v.menu_id, 113);
    EXPECT_EQ(v.left.command, 10140);
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.message_text, L"Please enter a valid password");
    EXPECT_EQ(v.depth, 2u);
    ui.screenshot("error_message");

    // A second message while it is current only changes the text.
    ui.root().message(L"Login timed out", MessageKind::Warning, true);
    ui.settle();
    EXPECT_EQ(ui.view().depth, 2u);
    EXPECT_EQ(ui.view().message_text, L"Login timed out");
    EXPECT_EQ(ui.view().message_kind, MessageKind::Warning);
    EXPECT_EQ(ui.view().title, L"Vokar");

    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().title, L"Vokar - Login");
    EXPECT_EQ(ui.view().message_kind, MessageKind::None);
    EXPECT_TRUE(login.commands.empty());

    ui.root().message(L"Settings saved", MessageKind::Information, true);
    ui.settle();
    EXPECT_EQ(ui.view().depth, 1u); // replaced the login screen
    EXPECT_EQ(ui.view().title, L"Vokar");
}

TEST_F(MessageTest, MessageFromAWorkerThreadIsShown)
{
    std::thread worker([&] { ui.root().message(L"Login failed", MessageKind::Error); });
    EXPECT_TRUE(ui.wait_for([](const UiView& v) { return v.message_text == L"Login failed"; }));
    worker.join();
}

TEST_F(MessageTest, AutoClosingMessageGoesAfterFourSecondsUnlessDismissed)
{
    ui.root().message(L"Friend request rejected", MessageKind::Information, false, true);
    ui.settle();
    ui.advance(MessageScreen::kAutoCloseMs - 1);
    EXPECT_EQ(ui.view().message_kind, MessageKind::Information);
    ui.advance(1);
    EXPECT_EQ(ui.view().title, L"Vokar - Login");
    EXPECT_EQ(ui.view().depth, 1u);

    // Dismissed by hand, then another screen: the timer must not close that one.
    ui.root().message(L"Status changed", MessageKind::Information, false, true);
    ui.settle();
    ui.press(Key::SoftLeft);
    ui.root().show_screen(other);
    ui.settle();
    ui.advance(MessageScreen::kAutoCloseMs);
    EXPECT_EQ(ui.view().title, L"Other");
    EXPECT_EQ(ui.view().depth, 2u);
}

TEST_F(MessageTest, ProgressScreenAnimatesAndHandsItsCommandsToTheCaller)
{
    std::vector<uint16_t> commands;
    ui.root().progress(L"Logging in", 144, [&](uint16_t c) { commands.push_back(c); });
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Vokar - Logging in");
    EXPECT_EQ(ui.view().left.label, L"Cancel");
    const ProgressAnimation& animation = ui.root().progress_screen().animation();
    EXPECT_EQ(animation.frame(), 0);
    ui.advance(400);
    ui.advance(400);
    EXPECT_EQ(animation.frame(), 2);
    ui.advance(400);
    EXPECT_EQ(animation.frame(), 0);
    ui.screenshot("progress");

    ui.press(Key::SoftLeft);
    EXPECT_EQ(commands, (std::vector<uint16_t>{10081}));
    ui.root().back();
    EXPECT_FALSE(animation.running()); // stopped with its screen
    EXPECT_FALSE(ui.root().timers().next_due_in().has_value());
}

TEST_F(MessageTest, LoginFooterWaitsAnimatedUntilTheNetworkIsAvailable)
{
    auto& footer = other.add_control<LoginFooter>(9);
    ui.root().show_screen(other);
    ui.settle();
    EXPECT_EQ(ui.view().controls[0].text, L"Establishing Connection");
    ui.advance(399);
    EXPECT_EQ(footer.frame(), 0);
    ui.advance(1);
    EXPECT_EQ(footer.frame(), 1);
    footer.set_connected(true);
    EXPECT_FALSE(footer.running());
    EXPECT_EQ(ui.view().controls[0].text, L"Connection Established");
    footer.set_connected(false);
    EXPECT_TRUE(footer.running());
}

} // namespace
} // namespace vokar::ui::testing
