#include "ui/screens/sms_screens.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

struct Sent {
    std::wstring recipient, message;
    bool operator==(const Sent&) const = default;
};

class SmsScreensTest : public ::testing::Test {
protected:
    UiDriver ui;
    std::vector<Sent> sent;
    std::function<void()> on_sent;
    std::vector<std::wstring> invited;
    int picks = 0;
    PickContact picker = [this](ContactPicked picked) {
        ++picks;
        picked(L"+15550177");
    };

    TestScreen& home = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    SendSmsScreen& sms = ui.root().add_screen<SendSmsScreen>(SendSmsScreen::Actions{
        .send =
            [this](const std::wstring& r, const std::wstring& m, std::function<void()> done) {
                sent.push_back({r, m});
                on_sent = std::move(done);
            },
        .pick_contact = picker,
        .other = {},
    });
    InviteScreen& invite = ui.root().add_screen<InviteScreen>(InviteScreen::Actions{
        .invite = [this](const std::wstring& number) { invited.push_back(number); },
        .pick_contact = picker,
    });

    void SetUp() override
    {
        ui.root().show_screen(home);
        ui.settle();
    }
    std::wstring text(int id)
    {
        const UiView v = ui.view();
        return v.control(id) ? v.control(id)->text : L"(none)";
    }
    // Keypad keys for digits; SDL's text input carries no keypad characters.
    void dial(const std::wstring& digits)
    {
        for (wchar_t d : digits)
            ui.press(static_cast<Key>(d));
    }
    // In pieces that fit one text-input event.
    void type_long(const std::wstring& text)
    {
        for (size_t i = 0; i < text.size(); i += 30)
            ui.type(text.substr(i, 30));
    }
    void dismiss_message()
    {
        ui.press(Key::SoftLeft); // OK
    }
};

TEST(SmsCounterTest, OnePartUpTo160ThenPartsOf153)
{
    EXPECT_EQ(sms_counter(0), L"[0/160](1)");
    EXPECT_EQ(sms_counter(160), L"[160/160](1)");
    EXPECT_EQ(sms_counter(161), L"[161/306](2)");
    EXPECT_EQ(sms_counter(306), L"[306/306](2)");
    EXPECT_EQ(sms_counter(307), L"[307/459](3)");
}

TEST_F(SmsScreensTest, CounterAndSoftKeysFollowTheMessageAndTheFocus)
{
    sms.show(L"");
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Vokar - Send SMS");
    EXPECT_EQ(ui.view().focused_id, SendSmsScreen::kRecipientEdit);
    EXPECT_EQ(ui.view().menu_id, 142);
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[0/160](1)");
    ui.screenshot("send_sms_empty");
    ui.press(Key::Down);
    EXPECT_EQ(ui.view().menu_id, 108);
    type_long(std::wstring(160, L'a'));
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[160/160](1)");
    ui.type(L"b");
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[161/306](2)");
    type_long(std::wstring(146, L'c'));
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[307/459](3)");
    ui.press(Key::Backspace);
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[306/306](2)");
    ui.press(Key::Up);
    EXPECT_EQ(ui.view().menu_id, 142);
}

TEST_F(SmsScreensTest, SendChecksTheFieldsAndEmptiesThemOnlyOnSuccess)
{
    sms.show(L"");
    ui.settle();
    ui.press(Key::Down);
    ui.type(L"Hello there");
    ui.press(Key::SoftLeft); // Send
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid number");
    dismiss_message();
    ui.press(Key::Up);
    dial(L"15550123");
    ui.press(Key::Down);
    ui.press(Key::SoftRight); // Options
    ui.press(Key::Down);
    ui.press(Key::Down);
    ui.press(Key::Action); // Clear Message
    EXPECT_EQ(text(SendSmsScreen::kMessageEdit), L"");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Please enter a message");
    dismiss_message();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(text(SendSmsScreen::kRecipientEdit), L"15550123");

    // A request that fails never reports: both fields stay.
    ui.type(L"See you later.");
    ui.screenshot("send_sms_filled");
    ui.press(Key::SoftLeft);
    ASSERT_EQ(sent, (std::vector<Sent>{{L"15550123", L"See you later."}}));
    EXPECT_EQ(text(SendSmsScreen::kRecipientEdit), L"15550123");
    EXPECT_EQ(text(SendSmsScreen::kMessageEdit), L"See you later.");

    // The service took the second one; the request's worker reports it.
    ui.press(Key::SoftLeft);
    ASSERT_EQ(sent.size(), 2u);
    std::thread worker(on_sent);
    EXPECT_TRUE(ui.wait_for([](const UiView& v) {
        return v.control(SendSmsScreen::kMessageEdit)->text.empty() &&
               v.control(SendSmsScreen::kRecipientEdit)->text.empty();
    }));
    worker.join();
    EXPECT_EQ(text(SendSmsScreen::kCounter), L"[0/160](1)");
}

TEST_F(SmsScreensTest, LongActionPressInTheRecipientPicksAContact)
{
    sms.show(L"");
    ui.settle();
    ui.press(Key::Action, SendSmsScreen::kHoldMs);
    EXPECT_EQ(picks, 0);
    ui.press(Key::Action, SendSmsScreen::kHoldMs + 1);
    EXPECT_EQ(picks, 1);
    EXPECT_EQ(text(SendSmsScreen::kRecipientEdit), L"+15550177");
    // Not in the message field.
    ui.press(Key::Down);
    ui.press(Key::Action, 1000);
    EXPECT_EQ(picks, 1);
    EXPECT_EQ(text(SendSmsScreen::kMessageEdit), L"\n");
}

TEST_F(SmsScreensTest, InvitationNeedsANumber)
{
    invite.show(L"");
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Invite a friend");
    EXPECT_EQ(ui.view().menu_id, 130);
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid number");
    dismiss_message();
    EXPECT_TRUE(invited.empty());
    invite.show(L"15550123"); // from the dialer
    ui.settle();
    ui.screenshot("invite");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(invited, std::vector<std::wstring>{L"15550123"});
}

} // namespace
} // namespace vokar::ui::testing
