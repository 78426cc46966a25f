// The XMPP service makes the echo account every user's friend: through real
// clients against the operator's server.

#include <gtest/gtest.h>

#include "base/reactor.h"
#include "platform/clock.h"
#include "tests/support/live_client.h"
#include "tests/support/xmpp_server.h"

namespace vokar::test {
namespace {

constexpr const char* kEcho = "15550000";

XmppServerOptions server_with_echo(bool befriend)
{
    XmppServerOptions options;
    options.use_environment = false;
    options.accounts = {{kEcho, "echo-pass"}, {"alice", "alice-pass"}};
    options.extra_config = {{"echo_account", kEcho},
                            {"echo_account_befriend", befriend ? "1" : "0"}};
    return options;
}

class EchoBefriending : public ::testing::Test {
protected:
    platform::ManualClock keep_alive_clock_;
    Reactor reactor_{keep_alive_clock_, false};
};

TEST_F(EchoBefriending, FirstLoginMakesBothMutualFriendsOnceAndNeverTheEchoItself)
{
    XmppServer server(server_with_echo(true));
    ASSERT_TRUE(server.start()) << server.error();
    LiveClient echo(server, server.accounts()[0], reactor_);
    ASSERT_TRUE(echo.log_in());
    EXPECT_FALSE(echo.wait_for_roster_item(echo.jid(), 0ms)) << echo.history();

    // The echo account is in the roster the client loads at its first login.
    auto alice = std::make_unique<LiveClient>(server, server.accounts()[1], reactor_);
    ASSERT_TRUE(alice->log_in());
    EXPECT_TRUE(alice->wait_for_roster_item(echo.jid(), 0ms)) << alice->history();
    // Subscribed both ways: each sees the other come online.
    EXPECT_TRUE(alice->wait_for_status(echo.jid(), kStatusAvailable)) << alice->history();
    EXPECT_TRUE(echo.wait_for_roster_item(alice->jid())) << echo.history();
    EXPECT_TRUE(echo.wait_for_status(alice->jid(), kStatusAvailable)) << echo.history();

    // Once removed, the echo account stays removed at later logins.
    (*alice)->removeContact(echo.jid());
    ASSERT_TRUE(alice->wait_for([&](int code, const JabberEvent& e) {
        for (const auto& u : e.updates)
            if (code == kEventPresence && u.jid == echo.jid() && u.removed)
                return true;
        return false;
    })) << alice->history();
    (*alice)->logout();
    alice = std::make_unique<LiveClient>(server, server.accounts()[1], reactor_);
    ASSERT_TRUE(alice->log_in());
    ASSERT_TRUE(alice->settle());
    EXPECT_FALSE(alice->wait_for_roster_item(echo.jid(), 0ms)) << alice->history();
}

TEST_F(EchoBefriending, NobodyIsBefriendedWhenItIsOff)
{
    XmppServer server(server_with_echo(false));
    ASSERT_TRUE(server.start()) << server.error();
    LiveClient alice(server, server.accounts()[1], reactor_);
    ASSERT_TRUE(alice.log_in());
    ASSERT_TRUE(alice.settle());
    EXPECT_FALSE(alice.wait_for_roster_item(std::string(kEcho) + "@" + server.domain(), 0ms))
        << alice.history();
}

} // namespace
} // namespace vokar::test
