#include "ui/ui_root.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/messages.h"
#include "test_screen.h"
#include "ui/label.h"
#include "ui/paged_screen.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class UiRootTest : public ::testing::Test {
protected:
    UiDriver ui;
    TestScreen& a = ui.root().add_screen<TestScreen>(L"Screen A", 112);
    TestScreen& b = ui.root().add_screen<TestScreen>(L"Screen B", 103);
    TestScreen& c = ui.root().add_screen<TestScreen>(L"Screen C", 104);
};

TEST_F(UiRootTest, ScreenStackFollowsShowReplaceResetAndBack)
{
    ui.root().replace_screen(a); // on an empty stack: pushed
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Screen A");
    EXPECT_EQ(ui.view().depth, 1u);
    EXPECT_EQ(ui.view().menu_id, 112);
    EXPECT_EQ(ui.view().left.label, L"OK");
    EXPECT_EQ(ui.view().right.command, 10081);

    ui.root().show_screen(b);
    ui.root().replace_screen(c);
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Screen C");
    EXPECT_EQ(ui.view().depth, 2u);
    ui.screenshot("stack_screen_c");

    ui.root().back();
    EXPECT_EQ(ui.view().title, L"Screen A");
    EXPECT_EQ(ui.view().menu_id, 112);

    ui.root().show_screen(c);
    ui.root().reset_to_screen(b);
    ui.settle();
    EXPECT_EQ(ui.view().depth, 1u);
    EXPECT_EQ(ui.view().title, L"Screen B");

    ui.root().back(); // the only screen: the dialog and the application end
    EXPECT_TRUE(ui.view().ended);
    EXPECT_EQ(ui.view().end_result, kEndApplication);
    EXPECT_EQ(ui.view().depth, 0u);
}

TEST_F(UiRootTest, ScreensShownFromAnotherThreadArriveOnTheGuiThread)
{
    std::thread worker([&] {
        ui.root().show_screen(a);
        ui.root().show_screen(b);
    });
    EXPECT_TRUE(ui.wait_for([](const UiView& v) { return v.title == L"Screen B"; }));
    worker.join();
    EXPECT_EQ(ui.view().depth, 2u);
}

TEST_F(UiRootTest, OptionsPopupWalksSubmenusAndDeliversTheCommand)
{
    ui.root().show_screen(b); // menu 103
    ui.settle();
    EXPECT_EQ(ui.view().left.command, 10020);
    EXPECT_TRUE(ui.view().right.opens_popup);

    ui.press(Key::SoftRight);
    UiView v = ui.view();
    ASSERT_TRUE(v.popup.open);
    EXPECT_EQ(v.popup.items.size(), 7u);
    EXPECT_EQ(v.popup.items[0], L"Selected Friend");

    ui.press(Key::Down);
    ui.press(Key::Action); // "Set Status"
    v = ui.view();
    EXPECT_EQ(v.popup.level, 1);
    EXPECT_EQ(v.popup.commands, (std::vector<uint16_t>{10028, 10029, 10030, 10031}));
    ui.press(Key::Down);
    ui.press(Key::Down);
    ui.screenshot("popup_set_status");
    ui.press(Key::Left); // back to the options
    EXPECT_EQ(ui.view().popup.level, 0);
    EXPECT_EQ(ui.view().popup.selected, 1);
    ui.press(Key::Right);
    ui.press(Key::Up); // wraps to "Custom Status Message"
    ui.press(Key::Action);
    EXPECT_FALSE(ui.view().popup.open);
    EXPECT_EQ(b.commands, (std::vector<uint16_t>{10031}));

    ui.press(Key::SoftRight);
    ui.press(Key::SoftRight); // closes without a command
    EXPECT_FALSE(ui.view().popup.open);
    ui.press(Key::SoftLeft);
    EXPECT_EQ(b.commands, (std::vector<uint16_t>{10031, 10020}));
    EXPECT_TRUE(b.unhandled_keys.empty());
}

TEST_F(UiRootTest, RightSoftKeyWithACommandDeliversIt)
{
    ui.root().show_screen(c); // menu 104: Send, Back
    ui.settle();
    ui.press(Key::SoftRight);
    ui.press(Key::Talk);
    EXPECT_EQ(c.commands, (std::vector<uint16_t>{10040}));
    EXPECT_EQ(c.unhandled_keys, (std::vector<Key>{Key::Talk}));
    ui.root().set_soft_keys(113); // until the next activation
    EXPECT_EQ(ui.view().right.label, L"");
    EXPECT_EQ(ui.view().left.command, 10140);
}

TEST_F(UiRootTest, GlobalHandlerComesFirstAndCallEventsReachTheCallScreen)
{
    std::vector<uint32_t> global;
    ui.root().set_global_handler([&](const platform::Message& m) -> std::optional<intptr_t> {
        global.push_back(m.code);
        if (m.code == code(MessageCode::FriendRequestAccepted))
            return 1;
        return std::nullopt;
    });
    ui.root().set_call_screen(&c);
    ui.root().show_screen(a);
    ui.settle();

    platform::post_message(ui.root().window(), code(MessageCode::FriendRequestAccepted));
    platform::post_message(ui.root().window(), code(MessageCode::FriendsModelChanged));
    platform::post_message(ui.root().window(), code(MessageCode::CallChanged));
    ui.settle();
    EXPECT_EQ(global, (std::vector<uint32_t>{2140, 2026, 2124}));
    EXPECT_EQ(a.other_messages, (std::vector<uint32_t>{2026}));
    EXPECT_EQ(c.other_messages, (std::vector<uint32_t>{2124}));
}

TEST_F(UiRootTest, PagedScreenWrapsWithThePageTitleAndSoftKeys)
{
    auto& paged = ui.root().add_screen<PagedScreen>();
    auto& contacts = paged.add_page<TestScreen>(L"Contacts", 102);
    paged.add_page<TestScreen>(L"Call History", 102);
    auto& friends = paged.add_page<TestScreen>(L"Friends", 103);
    ui.root().show_screen(paged);
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Contacts");

    ui.press(Key::Left); // from the first page to the last
    EXPECT_EQ(ui.view().title, L"Friends");
    EXPECT_EQ(ui.view().menu_id, 103);
    ui.press(Key::SoftLeft);
    EXPECT_EQ(friends.commands, (std::vector<uint16_t>{10020}));
    ui.press(Key::Right);
    EXPECT_EQ(ui.view().title, L"Contacts");
    EXPECT_EQ(ui.view().menu_id, 102);
    ui.press(Key::Right);
    EXPECT_EQ(ui.view().title, L"Call History");
    // Each page has a first activation of its own.
    EXPECT_EQ(contacts.activations, (std::vector<bool>{true, false}));
    EXPECT_EQ(friends.activations, (std::vector<bool>{true}));
}

TEST_F(UiRootTest, ResizeBetweenPaintsRecreatesTheOffScreenTarget)
{
    ui.root().show_screen(a);
    ui.settle();
    const int before = ui.root().canvas().target_generation();
    ui.root().repaint();
    EXPECT_EQ(ui.root().canvas().target_generation(), before);

    ui.window().resize({240, 280});
    ui.settle();
    ui.root().repaint();
    EXPECT_EQ(ui.root().canvas().target_generation(), before + 1);
    EXPECT_EQ(ui.root().canvas().size(), (platform::Size{240, 280}));
    EXPECT_EQ(ui.root().screen_area().bottom(), 280 - 24);
}

TEST_F(UiRootTest, ScreenWithoutFocusableControlsFocusesNothing)
{
    a.add_control<Label>(L"Just text", 7);
    ui.root().show_screen(a);
    ui.settle();
    EXPECT_EQ(a.focused_index(), -1);
    EXPECT_EQ(ui.view().focused_id, 0);
    ui.press(Key::Down);
    EXPECT_EQ(a.unhandled_keys, (std::vector<Key>{Key::Down}));
}

} // namespace
} // namespace vokar::ui::testing
