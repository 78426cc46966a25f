// The limits every service of vokar-operatord applies to its clients:
// time-outs for silent connections and a share of the slots per source.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/operator/peer.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

OperatorStackOptions all_services(std::map<std::string, std::string> extra = {})
{
    OperatorStackOptions options;
    options.services = {"echo_udp", "echo_tcp", "tunnel", "web"};
    options.extra_config = std::move(extra);
    return options;
}

std::string servers_request()
{
    return "GET /accounts/moservers.php?username=1 HTTP/1.1\r\nHost: x\r\n\r\n";
}

TEST(OperatorLimits, SilentConnectionsAreClosedBeforeAndAfterTheirRequest)
{
    OperatorStack stack(all_services({{"request_timeout_ms", "300"}, {"idle_timeout_ms", "600"}}));
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& c = stack.config();

    Socket silent_echo = tcp_connect(c.echo_tcp_port);
    Socket silent_tunnel = tcp_connect(c.tunnel_port);
    Socket silent_web = tcp_connect(c.web_port);
    Socket echo = tcp_connect(c.echo_tcp_port);
    ASSERT_TRUE(send_all(echo.fd(), "Echo this"));
    EXPECT_EQ(recv_exact(echo.fd(), 9), "Echo this");
    Socket tunnel = open_tunnel(c.tunnel_port);
    ASSERT_TRUE(tunnel.valid());
    Socket relay = open_tunnel(c.tunnel_port);
    ASSERT_TRUE(open_udp_relay(relay.fd(), "127.0.0.1", c.echo_udp_port));

    for (const Socket* s : {&silent_echo, &silent_tunnel, &silent_web, &echo, &tunnel, &relay})
        EXPECT_TRUE(closed_by_peer(s->fd())) << "connection " << s - &silent_echo;
}

// One host with more connections than a service takes in all does not lock
// out another host.
TEST(OperatorLimits, OneSourceCannotTakeEverySlot)
{
    OperatorStack stack(all_services());
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& c = stack.config();

    std::vector<Socket> flood;
    for (uint16_t port : {c.echo_tcp_port, c.tunnel_port, c.web_port}) {
        for (int i = 0; i < 1100; ++i) {
            flood.push_back(tcp_connect(port));
            ASSERT_TRUE(flood.back().valid()) << port << " #" << i;
        }
    }

    Socket echo = tcp_connect(c.echo_tcp_port, "127.0.0.2");
    ASSERT_TRUE(send_all(echo.fd(), "Echo this"));
    EXPECT_EQ(recv_exact(echo.fd(), 9), "Echo this");

    Socket tunnel = open_tunnel(c.tunnel_port, "CONNECT ", "127.0.0.2");
    ASSERT_TRUE(tunnel.valid());
    ASSERT_TRUE(open_udp_relay(tunnel.fd(), "127.0.0.1", c.echo_udp_port));

    Socket web = tcp_connect(c.web_port, "127.0.0.2");
    ASSERT_TRUE(send_all(web.fd(), servers_request()));
    EXPECT_EQ(recv_some(web.fd(), 15), "HTTP/1.1 200 OK");
}

} // namespace
} // namespace vokar::test
