#include "core/address_discovery.h"

#include <gtest/gtest.h>

#include "sip/sip_stack.h"
#include "tests/core/core_test_support.h"

namespace vokar {
namespace {

struct DirectUdp : TransportPolicy {
    bool needsTunnel(bool) const override { return false; }
    bool prefersConnect() const override { return false; }
};

// Records what the finder gives the stack.
struct MediaStack : SipStackInterface {
    void add_listener(SipListener*) override {}
    void remove_listener(SipListener*) override {}
    void add_codec(int) override {}
    void set_display_name(const std::string&) override {}
    void set_local_address(const std::string&, int) override {}
    void set_rtp_port(int port) override { rtp_port = port; }
    void set_stun_address(const std::string& address, int port) override { stun = {address, port}; }
    bool open(std::unique_ptr<ConnectionInterface>, const std::string&, const std::string&,
              uint16_t, uint16_t) override
    {
        return true;
    }
    void register_account(const std::string&, const std::string&) override {}
    void unregister() override {}
    std::optional<std::string> call(const std::string&, const std::string&) override { return {}; }
    void ringing(const std::string&) override {}
    void accept(const std::string&) override {}
    void hangup(const std::string&) override {}
    std::string balance_text() override { return {}; }

    int rtp_port = 0;
    ServerEndpoint stun;
};

struct FinderRig {
    MediaAddressFinder finder(bool stun_answers)
    {
        return MediaAddressFinder(
            {policy,
             bearer,
             [] {
                 return ServerEndpoint{"stun.test", 3478};
             },
             [this, stun_answers](const std::string& local, uint16_t port,
                                  const ServerEndpoint& server,
                                  uint32_t limit) -> std::optional<ServerEndpoint> {
                 queries.push_back(local + ":" + std::to_string(port) + ">" + server.host + "/" +
                                   std::to_string(limit));
                 if (!stun_answers)
                     return std::nullopt;
                 return ServerEndpoint{"198.51.100.7", 40000};
             },
             nullptr,
             {},
             "192.0.2.10",
             "192.0.2.11",
             15010,
             15060});
    }
    DirectUdp policy;
    test::FakeBearer bearer;
    std::vector<std::string> queries;
};

TEST(AddressDiscoveryTest, DirectUdpOffersLocalStunAndRelayAddresses)
{
    FinderRig r;
    MediaParameters media;
    const auto addresses = r.finder(true).jingle_addresses(media);
    EXPECT_EQ(media.local_address, "10.0.0.5");
    EXPECT_GE(media.local_port, 8500);
    EXPECT_LT(media.local_port, 9500);
    ASSERT_EQ(addresses.size(), 3u);
    EXPECT_EQ(addresses[0].name, "peer");
    EXPECT_EQ(addresses[0].ip, "10.0.0.5");
    EXPECT_EQ(addresses[0].port, media.local_port);
    EXPECT_EQ(addresses[1].name, "stun");
    EXPECT_EQ(addresses[1].ip, "198.51.100.7");
    EXPECT_EQ(addresses[1].port, 40000);
    EXPECT_EQ(addresses[2].name, "proxy");
    EXPECT_EQ(addresses[2].ip, "192.0.2.10");
    EXPECT_EQ(addresses[2].port, 15010) << "the configured relay port";
    EXPECT_EQ(r.queries, std::vector<std::string>{"10.0.0.5:" + std::to_string(media.local_port) +
                                                  ">stun.test/7000"});

    // Without a STUN answer a Jingle call offers no "stun" address, and a SIP
    // call's media port moves up by one.
    EXPECT_EQ(r.finder(false).jingle_addresses(media).size(), 2u);
    MediaStack stack;
    r.finder(false).sip_addresses(stack, media);
    EXPECT_EQ(stack.rtp_port, media.local_port);
    EXPECT_EQ(stack.stun.port, 0);
    r.finder(true).sip_addresses(stack, media);
    EXPECT_EQ(stack.stun, (ServerEndpoint{"198.51.100.7", 40000}));
    EXPECT_EQ(stack.rtp_port, media.local_port);
}

} // namespace
} // namespace vokar
