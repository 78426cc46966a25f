#include <gtest/gtest.h>

#include "test_screen.h"
#include "ui/check_box.h"
#include "ui/choice_list.h"
#include "ui/label.h"
#include "ui/list_view.h"
#include "ui/text_box.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class ControlsTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& screen = ui.root().add_screen<TestScreen>(L"Vokar - Login", 101);

    void show()
    {
        ui.root().show_screen(screen);
        ui.settle();
    }
};

TEST_F(ControlsTest, TextBoxesTakeNumericAndMaskedInput)
{
    screen.add_control<Label>(L"Mobile Number");
    auto& number = screen.add_control<TextBox>(1021, L"Mobile Number",
                                               TextBox::Options{.numeric = true, .max_length = 6});
    auto& password = screen.add_control<TextBox>(1022, L"Password");
    show();
    EXPECT_EQ(ui.view().focused_id, 1021);

    ui.type(L"+");
    for (Key k : {Key::Digit4, Key::Digit4, Key::Star, Key::Hash, Key::Digit7, Key::Digit1})
        ui.press(k);
    ui.type(L"ab");
    EXPECT_EQ(number.text(), L"+44*#7"); // letters refused, six characters at most

    ui.press(Key::Down);
    EXPECT_EQ(ui.view().focused_id, 1022);
    ui.type(L"sec");
    ui.press(Key::Digit1);
    const UiView v = ui.view();
    const ControlView* shown = v.control(1022);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text, L"sec1");
    EXPECT_EQ(shown->shown, L"****");
    EXPECT_EQ(shown->caption, L"Password");
    ui.screenshot("login_fields");

    ui.press(Key::Back);
    ui.press(Key::Backspace);
    EXPECT_EQ(password.text(), L"se");
    ui.press(Key::Back);
    ui.press(Key::Back);
    EXPECT_TRUE(screen.unhandled_keys.empty()); // typed keys stay in the fields
    ui.press(Key::Back);                        // an empty field leaves Back to the screen
    EXPECT_EQ(screen.unhandled_keys, (std::vector<Key>{Key::Back}));

    number.set_text(L"12a34567");
    EXPECT_EQ(number.text(), L"123456");
}

TEST_F(ControlsTest, CheckBoxesAndChoiceListsChangeWithTheirKeys)
{
    auto& check = screen.add_control<CheckBox>(1, L"Automatic login");
    auto& choice = screen.add_control<ChoiceList>(
        2, L"Ringing volume", std::vector<std::wstring>{L"Off", L"Low", L"High"}, 1);
    show();
    ui.press(Key::Action);
    EXPECT_TRUE(check.checked());
    EXPECT_TRUE(ui.view().controls[0].checked);
    ui.press(Key::Down);
    ui.press(Key::Right);
    ui.press(Key::Right); // wraps
    EXPECT_EQ(choice.selection(), 0);
    ui.press(Key::Left);
    const UiView v = ui.view();
    const ControlView* view = v.control(2);
    EXPECT_EQ(view->selection, 2);
    EXPECT_EQ(view->text, L"High");
    EXPECT_EQ(view->items.size(), 3u);
    choice.set_selection(7);
    EXPECT_EQ(choice.selection(), -1);
}

TEST_F(ControlsTest, ListViewMovesItsSelectionAndShowsNoDataWhenEmpty)
{
    auto& list = screen.add_control<ListView>(5);
    auto& link = screen.add_control<Label>(L"Create a new account", 6);
    int activated = -1;
    bool link_followed = false;
    list.set_on_activate([&](int row) { activated = row; });
    link.set_action([&] { link_followed = true; });
    show();
    EXPECT_EQ(ui.view().controls[0].shown, L"No data");

    std::vector<ListView::Row> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back({559 + i % 5, L"Friend " + std::to_wstring(i), L"Available"});
    list.set_rows(rows);
    list.set_selection(0);
    for (int i = 0; i < 15; ++i)
        ui.press(Key::Down);
    ui.press(Key::Up);
    ui.press(Key::Action);
    EXPECT_EQ(activated, 14);
    ui.screenshot("list_scrolled");

    list.set_rows({rows.begin(), rows.begin() + 3}); // the selection stays in range
    EXPECT_EQ(list.selection(), 2);
    ui.press(Key::Down); // past the last row: the focus moves on
    EXPECT_EQ(ui.view().focused_id, 6);
    ui.press(Key::Action);
    EXPECT_TRUE(link_followed);
}

} // namespace
} // namespace vokar::ui::testing
