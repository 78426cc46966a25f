// The service's own iqs against the operator's server: Hollers between real
// clients, and the version check under several operator configurations.

#include "tests/xmpp/live_client.h"

namespace vokar {
namespace {

using test::LiveClient;
using test::XmppServerOptions;

class HollerIntegration : public test::LiveXmppTest {
protected:
    HollerIntegration() : LiveXmppTest(options()) {}

    static XmppServerOptions options()
    {
        XmppServerOptions o;
        o.accounts = {{"alice", "alice-pass"}, {"bob", "bob-pass"}, {"carol", "carol-pass"}};
        return o;
    }

    void SetUp() override
    {
        LiveXmppTest::SetUp();
        if (HasFatalFailure())
            return;
        if (server_.external())
            GTEST_SKIP() << "needs the operator's Holler service";
        carol_ = std::make_unique<LiveClient>(server_, server_.accounts()[2], reactor_);
    }

    void TearDown() override { carol_.reset(); }

    // Hollers `to` and returns the answer's text.
    static std::string holler(LiveClient& from, const std::string& to)
    {
        const auto is_answer = [](int code, const JabberEvent&) {
            return code == kEventHollerAnswer;
        };
        const size_t before = from.count(is_answer);
        from->sendHoller(to);
        if (!from.wait_for([&](int, const JabberEvent&) { return from.count(is_answer) > before; }))
            return "(no answer)";
        return from.last(kEventHollerAnswer)->text;
    }

    // `client` logs out and `friend_` has seen it go.
    static void leave(LiveClient& client, LiveClient& friend_)
    {
        friend_.clear_events();
        client->logout();
        ASSERT_TRUE(friend_.wait_for([&](int, const JabberEvent&) {
            auto u = friend_.last_update(client.jid());
            return u && u->status == kStatusOffline;
        })) << client.user()
            << " seen offline; " << friend_.user() << " saw" << friend_.history();
    }

    static std::string stored_text(const LiveClient& to)
    {
        return to.jid() + " will see your Holler at the next login.";
    }

    std::unique_ptr<LiveClient> carol_;
};

TEST_F(HollerIntegration, AnOfflineFriendCollectsEachSenderOnceAfterARestart)
{
    befriend();
    befriend(*carol_, *bob_);
    leave(*bob_, *alice_);
    EXPECT_EQ(holler(*alice_, bob_->jid()), stored_text(*bob_));
    EXPECT_EQ(holler(*alice_, bob_->jid()), stored_text(*bob_)) << "again: still one Holler";
    EXPECT_EQ(holler(*carol_, bob_->jid()), stored_text(*bob_));

    server_.stop();
    ASSERT_TRUE(server_.start()) << server_.error();
    LiveClient bob(server_, server_.accounts()[1], reactor_);
    ASSERT_TRUE(bob.log_in());
    EXPECT_EQ(bob.retrieve_hollers(), (std::vector<std::string>{alice_->jid(), carol_->jid()}));
    EXPECT_EQ(bob.retrieve_hollers(), std::vector<std::string>{}) << "collected once";
}

TEST_F(HollerIntegration, RefusedHollersSayWhyAndStoreNothing)
{
    befriend();
    EXPECT_EQ(holler(*alice_, bob_->jid()),
              bob_->jid() + " is online now; send a message instead.");
    ASSERT_TRUE(carol_->log_in());
    EXPECT_EQ(holler(*carol_, bob_->jid()), "You can holler only friends who have accepted you.");
    EXPECT_EQ(holler(*alice_, alice_->jid()), "You cannot holler yourself.");
    EXPECT_EQ(holler(*alice_, "anna\\40hotmail.com@msn." + server_.domain()),
              "MSN contacts cannot be hollered.");

    // Bob turns Hollers off, then on again.
    (*bob_)->setHollerAllowed(false);
    EXPECT_EQ(bob_->retrieve_hollers(), std::vector<std::string>{});
    leave(*bob_, *alice_);
    EXPECT_EQ(holler(*alice_, bob_->jid()), bob_->jid() + " does not accept Hollers.");

    LiveClient bob(server_, server_.accounts()[1], reactor_);
    ASSERT_TRUE(bob.log_in());
    EXPECT_EQ(bob.retrieve_hollers(), std::vector<std::string>{}) << "nothing was stored";
    bob->setHollerAllowed(true);
    ASSERT_TRUE(bob.retrieve_hollers());
    leave(bob, *alice_);
    EXPECT_EQ(holler(*alice_, bob_->jid()), stored_text(*bob_));

    LiveClient bob_again(server_, server_.accounts()[1], reactor_);
    ASSERT_TRUE(bob_again.log_in());
    EXPECT_EQ(bob_again.retrieve_hollers(), std::vector<std::string>{alice_->jid()});
}

// The operator's version keys, and what a 2.2 client hears.
struct VersionRow {
    std::string name;
    std::string latest_version;
    std::string force_update_below;
    bool update;
    bool force;
};

void PrintTo(const VersionRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::string kUpdateUrl = "http://www.vokar.test/get?os=wm&v=2.10";
const std::string kUpdateMessage = R"(Vokar 2.10 is out: "faster" & <safer> \ | 100%)";

class VersionCheck : public test::LiveXmppTest, public ::testing::WithParamInterface<VersionRow> {
protected:
    VersionCheck() : LiveXmppTest(options()) {}

    static XmppServerOptions options()
    {
        XmppServerOptions o;
        o.extra_config = {{"latest_version", GetParam().latest_version},
                          {"force_update_below", GetParam().force_update_below},
                          {"update_url", kUpdateUrl},
                          {"update_message", kUpdateMessage}};
        return o;
    }

    void SetUp() override
    {
        LiveXmppTest::SetUp();
        if (!HasFatalFailure() && server_.external())
            GTEST_SKIP() << "needs the server's configuration";
    }
};

TEST_P(VersionCheck, TheLoginHearsWhetherToUpdate)
{
    ASSERT_TRUE(alice_->log_in());
    ASSERT_TRUE(alice_->settle()); // the version answer came before these
    const auto is_new_version = [](int code, const JabberEvent&) {
        return code == kEventNewVersion;
    };
    ASSERT_EQ(alice_->count(is_new_version), GetParam().update ? 1u : 0u);
    if (!GetParam().update)
        return;
    const JabberEvent event = *alice_->last(kEventNewVersion);
    EXPECT_EQ(event.force_update, GetParam().force);
    EXPECT_EQ(event.update_url, kUpdateUrl);
    EXPECT_EQ(event.update_message, kUpdateMessage);
}

INSTANTIATE_TEST_SUITE_P(Rows, VersionCheck,
                         ::testing::Values(VersionRow{"NewerByNumbers", "2.10", "", true, false},
                                           VersionRow{"Forced", "2.3", "2.3", true, true},
                                           VersionRow{"ForcedAtTheLatest", "2.2", "2.2.1", true,
                                                      true},
                                           VersionRow{"Current", "2.2", "", false, false},
                                           VersionRow{"NoneConfigured", "", "", false, false}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vokar
