// Gateways against the operator's XMPP server, whose transports simulate
// each legacy network with a few always-online contacts.

#include <gtest/gtest.h>

#include "live_ui.h"
#include "platform/text.h"
#include "ui/screens/friends_screens.h"
#include "ui/screens/gateway_screens.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

constexpr uint32_t kWaitMs = 20000;

class GatewayLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(live_.start()) << live_.error();
        ASSERT_TRUE(live_.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password))
            << platform::to_utf8(ui().view().title) << " / "
            << platform::to_utf8(ui().view().message_text);
        ui().press(Key::Left); // Contacts wraps to Friends
        ASSERT_EQ(ui().view().title, L"Vokar - Friends");
    }

    UiDriver& ui() { return live_.driver(); }
    MainScreens& screens() { return live_.client().main_screens(); }
    void command(CommandId c)
    {
        ui().root().dialog_proc({code(UiMessage::Command), ui::command(c), 0});
        ui().settle();
    }
    // A copy of the control's view (empty when it is not shown).
    ControlView field(int id)
    {
        const UiView v = ui().view();
        const ControlView* c = v.control(id);
        return c ? *c : ControlView{};
    }

    test::FullStack stack_{
        test::FullStackOptions{.extra_config = {}, .accounts = LiveUi::kAccounts}};
    LiveUi live_{stack_};
};

TEST_F(GatewayLive, RegisteredGatewayLetsAFriendOnItsNetworkBeAdded)
{
    // Not registered: adding an MSN friend is refused.
    command(CommandId::ADD_FRIEND_MSN);
    EXPECT_EQ(ui().view().message_text, L"MSN gateway is not enabled. Check Friends Settings");
    ui().press(Key::SoftLeft);

    command(CommandId::EDIT_IM_GATEWAYS);
    ASSERT_EQ(ui().view().title, L"Vokar - Edit Gateways");
    const auto networks = field(EditGatewaysScreen::kList).items;
    ASSERT_FALSE(networks.empty());
    ASSERT_EQ(networks.front(), L"MSN");
    ui().press(Key::SoftLeft);
    ASSERT_EQ(field(EditGatewayScreen::kCaption).text, L"MSN Gateway");
    ui().type(L"me@hotmail.com");
    ui().press(Key::Down);
    ui().type(L"secret");
    ui().press(Key::SoftLeft);
    EXPECT_EQ(ui().view().message_text,
              L"Gateway details set, this may take some time to take effect");
    ui().press(Key::SoftLeft);
    command(CommandId::GATEWAYS_BACK);
    ASSERT_TRUE(live_.pump_until([&] { return screens().gateway_enabled(kNetworkMsn); }, kWaitMs));

    command(CommandId::ADD_FRIEND_MSN);
    ASSERT_EQ(field(AddFriendScreen::kCaption).text, L"Add MSN Friend");
    ui().type(L"anna@hotmail.com");
    command(CommandId::ADD_FRIEND);
    EXPECT_EQ(ui().view().message_text,
              L"Friend has been added, they must now confirm you as a friend");
    ui().press(Key::SoftLeft);

    // The simulated contact approves and comes online, behind the gateway.
    const std::wstring anna =
        L"anna\\40hotmail.com@msn." + platform::to_wide(stack_.config().service_domain);
    EXPECT_TRUE(live_.pump_until(
        [&] {
            const auto f = live_.program().friends().find(anna);
            return f && f->status == kStatusAvailable && f->network == kNetworkMsn;
        },
        kWaitMs))
        << live_.program().friends().count();
    ui().screenshot("live_gateway_friend");

    // Chat crosses the gateway; the simulated contact answers.
    live_.program().friends().select(0);
    ui().type(L"hi anna");
    ui().press(Key::SoftLeft); // Send
    EXPECT_TRUE(live_.pump_until(
        [&] {
            const auto& lines = screens().chats().lines(anna);
            return std::find(lines.begin(), lines.end(), L"anna: You said: hi anna") != lines.end();
        },
        kWaitMs));
}

} // namespace
} // namespace vokar::ui::testing
