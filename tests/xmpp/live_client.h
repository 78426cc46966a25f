#pragma once

// Real clients against a real XMPP server on loopback (ours, or the one
// VOKAR_TEST_XMPP names): a fixture with the server and two clients, alice
// and bob.

#include <gtest/gtest.h>

#include <memory>

#include "base/reactor.h"
#include "platform/clock.h"
#include "tests/support/live_client.h"
#include "tests/support/xmpp_server.h"

namespace vokar::test {

// The server started for each test, with alice and bob not yet logged in.
class LiveXmppTest : public ::testing::Test {
protected:
    explicit LiveXmppTest(XmppServerOptions options = {}) : server_(std::move(options)) {}

    void SetUp() override
    {
        ASSERT_TRUE(server_.start()) << server_.error() << server_.log();
        alice_ = std::make_unique<LiveClient>(server_, server_.accounts()[0], reactor_);
        bob_ = std::make_unique<LiveClient>(server_, server_.accounts()[1], reactor_);
    }

    // Start from clean rosters (accounts of an external server remember) and
    // no recorded events. Both must be logged in.
    void forget_each_other(LiveClient& a, LiveClient& b)
    {
        a->removeContact(b.jid());
        b->removeContact(a.jid());
        // a's removal is done and its effects reached b before b's answer,
        // b's likewise before a's second answer.
        ASSERT_TRUE(a.sync() && b.sync() && a.sync());
        a.clear_events();
        b.clear_events();
    }

    // Both logged in, each with the other in the roster and subscribed both ways.
    void befriend() { befriend(*alice_, *bob_); }
    void befriend(LiveClient& a, LiveClient& b)
    {
        for (LiveClient* client : {&a, &b}) {
            if (!(*client)->authenticated()) {
                ASSERT_TRUE(client->log_in());
            }
        }
        forget_each_other(a, b);
        a->addContact(kNetworkService, b.user(), "", "");
        ASSERT_TRUE(b.wait_for_status(a.jid(), kStatusPending))
            << b.user() << " sees " << a.user() << "'s request";
        b->acceptContact(a.jid(), "", "");
        ASSERT_TRUE(a.wait_for([&](int, const JabberEvent&) {
            auto u = a.last_update(b.jid());
            return u && u->status == kStatusAvailable;
        })) << a.user()
            << " sees " << b.user() << " available";
        ASSERT_TRUE(b.wait_for([&](int, const JabberEvent&) {
            auto u = b.last_update(a.jid());
            return u && u->status == kStatusAvailable;
        })) << b.user()
            << " sees " << a.user() << " available";
    }

    platform::ManualClock keep_alive_clock_;
    Reactor reactor_{keep_alive_clock_, false};
    XmppServer server_;
    std::unique_ptr<LiveClient> alice_, bob_;
};

} // namespace vokar::test
