#include "ui/screens/simple_screens.h"

#include <gtest/gtest.h>

#include <string>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class SimpleScreensTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& main = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    AboutScreen& about = ui.root().add_screen<AboutScreen>();
    EntryScreen& entry = ui.root().add_screen<EntryScreen>();
    QuestionScreen& question = ui.root().add_screen<QuestionScreen>();

    void SetUp() override
    {
        ui.root().show_screen(main);
        ui.settle();
    }
};

TEST_F(SimpleScreensTest, AboutShowsTheVersionAndOkGoesBack)
{
    ui.root().show_screen(about);
    ui.settle();
    const UiView v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - About");
    EXPECT_EQ(v.menu_id, 113);
    EXPECT_EQ(v.control(AboutScreen::kVersion)->text, L"2.2.2 (beta)");
    ui.screenshot("about");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().title, L"Vokar");
}

TEST_F(SimpleScreensTest, EntryHandsTheTextToItsCaller)
{
    std::wstring got;
    entry.ask(L"Edit nickname", L"New nickname:", L"Al", [&](const std::wstring& t) { got = t; });
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Edit nickname");
    ui.type(L"ice");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(got, L"Alice");
    ui.press(Key::SoftRight); // Cancel
    EXPECT_EQ(ui.view().title, L"Vokar");
}

TEST_F(SimpleScreensTest, QuestionRunsYesOnlyOnYes)
{
    int yes = 0;
    question.ask(L"Instant Messaging", L"Import?", [&] { ++yes; });
    ui.settle();
    EXPECT_EQ(ui.view().menu_id, 141);
    ui.press(Key::SoftRight); // No
    EXPECT_EQ(ui.view().title, L"Vokar");
    question.ask(L"Instant Messaging", L"Import?", [&] { ++yes; });
    ui.settle();
    ui.press(Key::SoftLeft); // Yes
    EXPECT_EQ(yes, 1);
    EXPECT_EQ(ui.view().title, L"Vokar");
}

} // namespace
} // namespace vokar::ui::testing
