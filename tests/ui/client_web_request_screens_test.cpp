#include "app/web_request_screens.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class WebRequestScreensTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& home = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    TestScreen& other = ui.root().add_screen<TestScreen>(L"Vokar - Other", 113);
    app::WebRequestScreens screens{ui.root()};
    std::vector<int> keys;

    void SetUp() override
    {
        ui.root().show_screen(home);
        ui.settle();
    }

    void show_progress()
    {
        screens.show_progress(L"Checking balance", [this](int command) {
            keys.push_back(command);
            screens.hide_progress();
        });
        ui.settle();
    }

    // Shows the final message from a worker thread while the GUI thread pumps.
    void finish(const std::wstring& text, bool error, MessagePlacement placement)
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            screens.show_message(text, error, placement);
            done = true;
            platform::post_message(ui.root().window(), code(UiMessage::Repaint));
        });
        ui.wait_for([&](const UiView&) { return done.load(); });
        worker.join();
        ui.settle();
    }
};

TEST_F(WebRequestScreensTest, ProgressHidesWithItsKeyAndTheMessageTakesItsPlaceOnlyWhileShown)
{
    show_progress();
    UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Logging in");
    EXPECT_EQ(v.left.label, L"Hide");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(keys, std::vector<int>{kHideCommand});
    EXPECT_EQ(ui.view().title, L"Vokar");

    // Hidden: the answer comes over whatever the user went on to.
    ui.root().show_screen(other);
    ui.settle();
    finish(L"Your balance is $5.00", false, MessagePlacement::ReplaceProgress);
    v = ui.view();
    EXPECT_EQ(v.message_kind, MessageKind::Information);
    EXPECT_EQ(v.depth, 3u);
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().title, L"Vokar - Other");

    // Still shown: the answer replaces it.
    show_progress();
    finish(L"Service unavailable at present", true, MessagePlacement::ReplaceProgress);
    v = ui.view();
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.depth, 3u);
}

TEST_F(WebRequestScreensTest, TimeLimitMessageReplacesTheCurrentScreen)
{
    ui.root().show_screen(other);
    ui.settle();
    finish(L"Service unavailable at present", true, MessagePlacement::ReplaceCurrent);
    const UiView v = ui.view();
    EXPECT_EQ(v.message_kind, MessageKind::Error);
    EXPECT_EQ(v.depth, 2u);
}

} // namespace
} // namespace vokar::ui::testing
