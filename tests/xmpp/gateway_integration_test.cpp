// The operator's gateway transports (one simulated legacy network each),
// driven by real clients: discovery, registration, address translation,
// the simulated contacts and unregistration.

#include "tests/xmpp/live_client.h"

namespace vokar {
namespace {

using test::LiveClient;

// Every network with a transport, in the client's order, with a user name
// the network accepts.
const std::vector<std::pair<int, std::string>> kNetworks = {
    {kNetworkMsn, "alice@hotmail.com"}, {kNetworkYahoo, "alice_y"},
    {kNetworkIcq, "55501234"},          {kNetworkAim, "Alice Smith"},
    {kNetworkGtalk, "alice@gmail.com"}, {kNetworkSkype, "alice.smith"},
    {kNetworkFacebook, "alice.smith"},  {kNetworkQq, "5550123"},
    {kNetworkGaduGadu, "555012"},
};

LiveClient::Match transport_event(int network)
{
    return [network](int code, const JabberEvent& e) {
        return code == kEventTransport && e.network == network;
    };
}

bool any_transport_event(int code, const JabberEvent&)
{
    return code == kEventTransport;
}

class GatewayIntegration : public test::LiveXmppTest {
protected:
    void SetUp() override
    {
        LiveXmppTest::SetUp();
        if (!HasFatalFailure() && server_.external())
            GTEST_SKIP() << "needs the operator's own transports";
    }

    std::string at(const std::string& prefix) const { return prefix + "." + server_.domain(); }

    // Waits until the last presence `client` heard from `jid` has `status`.
    static bool sees(LiveClient& client, const std::string& jid, int status = kStatusAvailable)
    {
        return client.wait_for([&](int, const JabberEvent&) {
            auto u = client.last_update(jid);
            return u && u->status == status;
        });
    }
};

TEST_F(GatewayIntegration, LoginDiscoversTheNineTransportsAndRegistrationsLast)
{
    ASSERT_TRUE(alice_->log_in());
    ASSERT_TRUE(alice_->settle());
    EXPECT_EQ(alice_->count(any_transport_event), 0u) << "registered nowhere yet";

    for (const auto& [network, user] : kNetworks)
        (*alice_)->registerGateway(network, user, "legacy-secret");
    for (const auto& [network, user] : kNetworks) {
        EXPECT_TRUE(alice_->wait_for(transport_event(network))) << "network " << network;
        EXPECT_TRUE((*alice_)->isGatewayRegistered(network)) << "network " << network;
    }

    // After a restart a new login learns every registration by discovery.
    server_.stop();
    ASSERT_TRUE(server_.start()) << server_.error();
    LiveClient again(server_, server_.accounts()[0], reactor_);
    ASSERT_TRUE(again.log_in());
    ASSERT_TRUE(again.settle());
    for (const auto& [network, user] : kNetworks) {
        EXPECT_TRUE(again->isGatewayRegistered(network)) << "network " << network;
        EXPECT_GE(again.count(transport_event(network)), 1u) << "network " << network;
    }

    // Discovery tells each user about their own registrations only.
    ASSERT_TRUE(bob_->log_in());
    ASSERT_TRUE(bob_->settle());
    EXPECT_EQ(bob_->count(any_transport_event), 0u);
    for (const auto& [network, user] : kNetworks)
        EXPECT_FALSE((*bob_)->isGatewayRegistered(network)) << "network " << network;
}

TEST_F(GatewayIntegration, RegisteringOnMsnReportsTheTransportAndItAnswersPresence)
{
    ASSERT_TRUE(alice_->log_in());
    ASSERT_TRUE(alice_->settle());
    (*alice_)->registerGateway(kNetworkMsn, "alice@hotmail.com", "legacy-secret");
    ASSERT_TRUE(alice_->wait_for(transport_event(kNetworkMsn)));
    EXPECT_TRUE((*alice_)->isGatewayRegistered(kNetworkMsn));
    // The registration sends the client's presence to the transport twice;
    // the transport answers each with its own, which raises kEventTransport again.
    ASSERT_TRUE(alice_->wait_for(
        [&](int, const JabberEvent&) { return alice_->count(transport_event(kNetworkMsn)) == 3; }));

    (*alice_)->setStatus(kStatusAway);
    EXPECT_TRUE(alice_->wait_for([&](int, const JabberEvent&) {
        return alice_->count(transport_event(kNetworkMsn)) == 4;
    })) << "a status change reaches the registered transport";
    ASSERT_TRUE(alice_->settle());
    EXPECT_EQ(alice_->count(any_transport_event), 4u) << "no other transport answered";
}

TEST_F(GatewayIntegration, ThePromptTranslatesByTheNetworksRules)
{
    ASSERT_TRUE(alice_->log_in());
    struct Row {
        int network;
        std::string address;
        std::string jid; // in the roster afterwards
    };
    const std::vector<Row> rows = {
        {kNetworkMsn, "Anna@Hotmail.com", "anna\\40hotmail.com@" + at("msn")},
        // Not an MSN address: the transport answers "null" and the client
        // builds the JID itself.
        {kNetworkMsn, "anna", "anna@" + at("msn")},
        {kNetworkIcq, "123-456-789", "123456789@" + at("icq")},
        {kNetworkIcq, "gina@icq.com", "gina\\40icq.com@" + at("icq")},
        {kNetworkAim, "Jade Parker", "jadeparker@" + at("aim")},
        {kNetworkFacebook, "sam.taylor@facebook.com", "sam.taylor@" + at("facebook")},
    };
    for (const auto& row : rows)
        (*alice_)->addContact(row.network, row.address, "", "");
    for (const auto& row : rows)
        EXPECT_TRUE(alice_->wait_for_roster_item(row.jid)) << row.address;
}

TEST_F(GatewayIntegration, SimulatedContactsComeOnlineAndAnswer)
{
    ASSERT_TRUE(alice_->log_in());
    const std::string anna = "anna\\40hotmail.com@" + at("msn");
    const std::string ben = "ben\\40live.com@" + at("msn");
    const std::string chloe = "chloe\\40outlook.com@" + at("msn");

    // Added before registering: the request waits for the registration.
    (*alice_)->addContact(kNetworkMsn, "chloe@outlook.com", "", "");
    ASSERT_TRUE(alice_->wait_for_roster_item(chloe));
    ASSERT_TRUE(alice_->settle());
    EXPECT_FALSE(alice_->last_update(chloe));

    (*alice_)->registerGateway(kNetworkMsn, "alice@hotmail.com", "legacy-secret");
    EXPECT_TRUE(sees(*alice_, chloe)) << "chloe, added before registering";

    (*alice_)->addContact(kNetworkMsn, "anna@hotmail.com", "", "");
    (*alice_)->addContact(kNetworkMsn, "ben@live.com", "", "");
    EXPECT_TRUE(alice_->wait_for_roster_item(anna));
    EXPECT_TRUE(sees(*alice_, anna));
    EXPECT_TRUE(sees(*alice_, ben, kStatusAway));

    (*alice_)->sendMessage(anna, "hello anna & co");
    EXPECT_TRUE(alice_->wait_for([&](int code, const JabberEvent& e) {
        return code == kEventChatMessage && e.jid == anna && e.text == "You said: hello anna & co";
    }));

    // The next login finds them online again (the server probes them).
    LiveClient again(server_, server_.accounts()[0], reactor_);
    ASSERT_TRUE(again.log_in());
    EXPECT_TRUE(sees(again, anna));
    EXPECT_TRUE(sees(again, ben, kStatusAway));
}

TEST_F(GatewayIntegration, AMessageTheNetworkRefusesComesBackAsAMessageError)
{
    ASSERT_TRUE(alice_->log_in());
    const auto failed = [&](const std::string& text) {
        return alice_->wait_for([&](int code, const JabberEvent& e) {
            return code == kEventMessageError && e.jid == at("msn") && e.text == text;
        });
    };
    (*alice_)->sendMessage("anna\\40hotmail.com@" + at("msn"), "before registering");
    EXPECT_TRUE(failed("before registering")) << alice_->history();

    (*alice_)->registerGateway(kNetworkMsn, "alice@hotmail.com", "legacy-secret");
    ASSERT_TRUE(alice_->wait_for(transport_event(kNetworkMsn)));
    (*alice_)->sendMessage("nobody\\40hotmail.com@" + at("msn"), "to no one");
    EXPECT_TRUE(failed("to no one")) << alice_->history();
}

TEST_F(GatewayIntegration, UnregisteringClearsTheTransport)
{
    ASSERT_TRUE(alice_->log_in());
    (*alice_)->registerGateway(kNetworkGtalk, "alice@gmail.com", "legacy-secret");
    ASSERT_TRUE(alice_->wait_for(transport_event(kNetworkGtalk)));
    // Registered: a Google Talk address goes through the transport.
    const std::string mark = "mark\\40gmail.com@" + at("gtalk");
    (*alice_)->addContact(kNetworkGtalk, "mark", "", "");
    ASSERT_TRUE(sees(*alice_, mark));

    (*alice_)->unregisterGateway(kNetworkGtalk);
    EXPECT_FALSE((*alice_)->isGatewayRegistered(kNetworkGtalk));
    EXPECT_TRUE(sees(*alice_, mark, kStatusOffline)) << "the transport's contacts go offline";
    // Unregistered: the next Google Talk address is added as it is.
    (*alice_)->addContact(kNetworkGtalk, "nina", "", "");
    EXPECT_TRUE(alice_->wait_for_roster_item("nina@gmail.com"));

    // The server forgot the registration too.
    LiveClient again(server_, server_.accounts()[0], reactor_);
    ASSERT_TRUE(again.log_in());
    ASSERT_TRUE(again.settle());
    EXPECT_FALSE(again->isGatewayRegistered(kNetworkGtalk));
    EXPECT_EQ(again.count(any_transport_event), 0u);
    EXPECT_TRUE(sees(again, mark, kStatusOffline));
}

} // namespace
} // namespace vokar
