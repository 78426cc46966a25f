#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/scramble.h"
#include "tests/operator/peer.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kIdleTimeout = 400ms;

// vokar-operatord running only the SIP front, in front of a plain UDP socket
// of the test standing in for the SIP server.
class SipFrontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = udp_socket();
        ASSERT_TRUE(server_.valid());
        OperatorStackOptions options;
        options.services = {"sip_front"};
        options.extra_config["sip_server_port"] = std::to_string(local_port(server_.fd()));
        options.extra_config["idle_timeout_ms"] = std::to_string(kIdleTimeout.count());
        stack_.emplace(options);
        ASSERT_TRUE(stack_->start()) << stack_->error();
        front_port_ = stack_->config().sip_port;
    }
    void TearDown() override
    {
        if (stack_ && stack_->pid() > 0) {
            EXPECT_EQ(stack_->stop(), 0) << stack_->log();
        }
    }

    bool client_send(const Socket& client, std::string_view text)
    {
        return udp_send(client.fd(), front_port_, scramble(text));
    }
    // The next datagram at the server: its text and the upstream port.
    std::optional<Datagram> server_receive() { return udp_receive(server_.fd()); }

    Socket server_;
    std::optional<OperatorStack> stack_;
    uint16_t front_port_ = 0;
};

TEST_F(SipFrontTest, EachClientGetsItsOwnUpstreamAndTheScrambleIsUndoneBothWays)
{
    Socket first = udp_socket();
    Socket second = udp_socket();
    const std::string request = "REGISTER sip:sip.vokar.test SIP/2.0\r\nCSeq: 1 REGISTER\r\n\r\n";

    ASSERT_TRUE(client_send(first, request));
    const auto a = server_receive();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->payload, request);

    ASSERT_TRUE(client_send(second, "OPTIONS second"));
    const auto b = server_receive();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->payload, "OPTIONS second");
    EXPECT_NE(b->from_port, a->from_port);

    ASSERT_TRUE(client_send(first, "MESSAGE again"));
    const auto c = server_receive();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->payload, "MESSAGE again");
    EXPECT_EQ(c->from_port, a->from_port);

    // The server answers each upstream; each answer reaches its own client,
    // scrambled, from the front's port.
    const std::string reply = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\n\r\n";
    ASSERT_TRUE(udp_send(server_.fd(), b->from_port, "SIP/2.0 200 second"));
    ASSERT_TRUE(udp_send(server_.fd(), a->from_port, reply));
    const auto to_first = udp_receive(first.fd());
    const auto to_second = udp_receive(second.fd());
    ASSERT_TRUE(to_first && to_second);
    EXPECT_EQ(to_first->from_port, front_port_);
    EXPECT_EQ(to_first->payload.size(), reply.size() + 1);
    EXPECT_EQ(unscramble(to_first->payload), reply);
    EXPECT_EQ(unscramble(to_second->payload), "SIP/2.0 200 second");
}

TEST_F(SipFrontTest, KeepAlivesHoldTheMappingWithoutReachingTheServerAndIdleMappingsEnd)
{
    Socket client = udp_socket();
    ASSERT_TRUE(client_send(client, "REGISTER one"));
    const auto first = server_receive();
    ASSERT_TRUE(first);

    // Keep-alives over more than the idle time-out keep the same upstream;
    // the server's next datagram is the request, not a keep-alive.
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(client_send(client, " "));
        std::this_thread::sleep_for(kIdleTimeout / 4);
    }
    ASSERT_TRUE(client_send(client, "REGISTER two"));
    const auto second = server_receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->payload, "REGISTER two");
    EXPECT_EQ(second->from_port, first->from_port);

    // Silent past the idle time-out, the client starts over with a new
    // upstream, and the old one no longer relays.
    std::this_thread::sleep_for(kIdleTimeout * 3);
    ASSERT_TRUE(client_send(client, "REGISTER three"));
    const auto third = server_receive();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->payload, "REGISTER three");
    EXPECT_NE(third->from_port, first->from_port);
    ASSERT_TRUE(udp_send(server_.fd(), first->from_port, "stale"));
    ASSERT_TRUE(udp_send(server_.fd(), third->from_port, "fresh"));
    const auto answer = udp_receive(client.fd());
    ASSERT_TRUE(answer);
    EXPECT_EQ(unscramble(answer->payload), "fresh");
}

} // namespace
} // namespace vokar::test
