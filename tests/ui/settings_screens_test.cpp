#include "ui/screens/settings_screens.h"

#include <gtest/gtest.h>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

// The screens over a stored copy of the values, saved and read back.
class SettingsScreensTest : public ::testing::Test {
protected:
    SettingsScreen::Values stored{4, L"-1", false};
    FriendsSettingsScreen::Values stored_friends;
    int saves = 0;

    UiDriver ui;
    TestScreen& main = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    SettingsScreen& settings = ui.root().add_screen<SettingsScreen>(SettingsScreen::Store{
        .load = [this] { return stored; },
        .save =
            [this](const SettingsScreen::Values& v) {
                stored = v;
                ++saves;
            },
    });
    FriendsSettingsScreen& friends =
        ui.root().add_screen<FriendsSettingsScreen>(FriendsSettingsScreen::Store{
            .load = [this] { return stored_friends; },
            .save =
                [this](const FriendsSettingsScreen::Values& v) {
                    stored_friends = v;
                    ++saves;
                },
            .edit_im_accounts = {},
        });

    void SetUp() override
    {
        ui.root().show_screen(main);
        ui.settle();
    }
};

TEST_F(SettingsScreensTest, SettingsAreSavedAndReadBack)
{
    ui.root().show_screen(settings);
    ui.settle();
    UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Settings");
    EXPECT_EQ(v.menu_id, 120);
    EXPECT_EQ(v.control(SettingsScreen::kRingVolume)->selection, 4);
    EXPECT_EQ(v.control(SettingsScreen::kDialingPrefixEdit)->text, L""); // unknown prefix

    ui.press(Key::Right); // volume 5
    ui.press(Key::Down);
    ui.press(Key::Digit4);
    ui.press(Key::Digit4);
    ui.press(Key::Down);
    ui.press(Key::Action); // automatic login on
    ui.screenshot("settings_edited");
    ui.press(Key::SoftLeft); // Save
    EXPECT_EQ(ui.view().message_text, L"Settings saved");
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(stored.ring_volume, 5);
    EXPECT_EQ(stored.dialing_prefix, L"44");
    EXPECT_TRUE(stored.autologin);
    ui.press(Key::SoftLeft); // OK
    EXPECT_EQ(ui.view().title, L"Vokar");

    // Read back; a cancelled edit is not kept.
    ui.root().show_screen(settings);
    ui.settle();
    ui.press(Key::Right);
    ui.press(Key::SoftRight); // Cancel
    EXPECT_EQ(ui.view().title, L"Vokar");
    ui.root().show_screen(settings);
    ui.settle();
    v = ui.view();
    EXPECT_EQ(v.control(SettingsScreen::kRingVolume)->selection, 5);
    EXPECT_EQ(v.control(SettingsScreen::kDialingPrefixEdit)->text, L"44");
    EXPECT_TRUE(v.control(SettingsScreen::kAutologin)->checked);
    EXPECT_EQ(saves, 1);
}

TEST_F(SettingsScreensTest, FriendsSettingsAreSavedAndReadBack)
{
    ui.root().show_screen(friends);
    ui.settle();
    UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Friends Settings");
    EXPECT_EQ(v.focused_id, FriendsSettingsScreen::kEditImAccounts);
    EXPECT_TRUE(v.control(FriendsSettingsScreen::kAllowHoller)->checked);
    ui.press(Key::Down);
    ui.press(Key::Action); // beep off
    ui.press(Key::Down);
    ui.press(Key::Down);
    ui.press(Key::Action); // holler off
    ui.screenshot("friends_settings_edited");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Friends settings saved");
    EXPECT_FALSE(stored_friends.message_alert);
    EXPECT_TRUE(stored_friends.show_offline_friends);
    EXPECT_FALSE(stored_friends.allow_holler);
    ui.press(Key::SoftLeft);
    ui.root().show_screen(friends);
    ui.settle();
    v = ui.view();
    EXPECT_FALSE(v.control(FriendsSettingsScreen::kMessageAlert)->checked);
    EXPECT_FALSE(v.control(FriendsSettingsScreen::kAllowHoller)->checked);
}

} // namespace
} // namespace vokar::ui::testing
