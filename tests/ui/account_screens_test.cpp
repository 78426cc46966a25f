#include "ui/screens/account_screens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class AccountScreensTest : public ::testing::Test {
protected:
    std::vector<std::vector<std::wstring>> requests;

    UiDriver ui;
    TestScreen& login = ui.root().add_screen<TestScreen>(L"Vokar - Login", 101);
    CreateAccountScreen& create =
        ui.root().add_screen<CreateAccountScreen>(CreateAccountScreen::Actions{
            .select_country = [this] { ui.root().show_screen(select); },
            .create =
                [this](const std::wstring& n, const std::wstring& p, const std::wstring& name,
                       const std::wstring& e, const std::wstring& c) {
                    requests.push_back({n, p, name, e, c});
                },
        });
    SelectCountryScreen& select = ui.root().add_screen<SelectCountryScreen>(create);

    void SetUp() override
    {
        ui.root().show_screen(login);
        ui.root().show_screen(create);
        ui.settle();
    }

    std::wstring ok_error()
    {
        ui.press(Key::SoftLeft);
        const UiView v = ui.view();
        if (v.message_kind != MessageKind::Error)
            return L"";
        ui.press(Key::SoftLeft);
        return v.message_text;
    }

    void focus(int id)
    {
        for (int i = 0; i < 6 && ui.view().focused_id != id; ++i)
            ui.press(Key::Down);
        ASSERT_EQ(ui.view().focused_id, id);
    }

    void dial(const std::wstring& digits)
    {
        for (wchar_t d : digits)
            ui.press(static_cast<Key>(d));
    }

    // Chooses the first country whose name begins with `typed`.
    void choose_country(const std::wstring& typed)
    {
        focus(CreateAccountScreen::kCountry);
        ui.press(Key::Action);
        ASSERT_EQ(ui.view().title, L"Vokar - Select Country");
        ui.type(typed);
        ui.press(Key::SoftLeft);
    }
};

TEST_F(AccountScreensTest, CreateAccountChecksInOrderThenSendsTheRequest)
{
    EXPECT_EQ(ui.view().title, L"Vokar - Create Account");
    EXPECT_EQ(ui.view().menu_id, 112);
    EXPECT_EQ(ok_error(), L"You must select a country");
    choose_country(L"south a");
    UiView v = ui.view();
    EXPECT_EQ(v.control(CreateAccountScreen::kCountry)->text, L"South Africa");
    EXPECT_EQ(v.control(CreateAccountScreen::kNumberEdit)->text, L"+27");
    EXPECT_EQ(ok_error(), L"You must enter a valid mobile number");
    focus(CreateAccountScreen::kNumberEdit);
    dial(L"821234567");
    focus(CreateAccountScreen::kPasswordEdit);
    ui.type(L"abcd");
    EXPECT_EQ(ok_error(), L"You must enter a password longer than 4 characters");
    ui.type(L"e");
    EXPECT_EQ(ok_error(), L"You must enter an email address");
    focus(CreateAccountScreen::kEmailEdit);
    ui.type(L"a@b.test");
    ui.screenshot("create_account_filled");
    EXPECT_EQ(ok_error(), L"");
    EXPECT_EQ(ui.view().title, L"Vokar - Login"); // went back
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (std::vector<std::wstring>{L"+27821234567", L"abcde", L"", L"a@b.test",
                                                      L"27"})); // no name: optional
}

TEST_F(AccountScreensTest, SelectCountryFiltersByTheTypedLetters)
{
    focus(CreateAccountScreen::kCountry);
    ui.press(Key::Action);
    UiView v = ui.view();
    const size_t all = v.control(SelectCountryScreen::kList)->items.size();
    ui.type(L"un");
    v = ui.view();
    const auto& items = v.control(SelectCountryScreen::kList)->items;
    ASSERT_FALSE(items.empty());
    EXPECT_LT(items.size(), all);
    for (const auto& name : items)
        EXPECT_EQ(name.substr(0, 2), L"Un") << std::string(name.begin(), name.end());
    ui.screenshot("select_country_filtered");
    ui.type(L"xq");
    v = ui.view();
    EXPECT_TRUE(v.control(SelectCountryScreen::kList)->items.empty());
    ui.press(Key::SoftRight); // Cancel
    v = ui.view();
    EXPECT_EQ(v.title, L"Vokar - Create Account");
    EXPECT_EQ(v.control(CreateAccountScreen::kNumberEdit)->text, L"");
}

} // namespace
} // namespace vokar::ui::testing
