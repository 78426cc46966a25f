#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "tests/operator/peer.h"
#include "tests/support/free_ports.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

std::string at(const std::string& host, uint16_t port)
{
    return host + ":" + std::to_string(port);
}

OperatorStackOptions running(std::vector<std::string> services)
{
    OperatorStackOptions options;
    options.services = std::move(services);
    return options;
}

TEST(OperatorDaemon, ReadinessLineNamesEachServiceAndItsAddress)
{
    OperatorStack stack;
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& c = stack.config();
    EXPECT_EQ(stack.ready_line(),
              "vokar-operatord ready echo_udp=" + at(c.echo_host, c.echo_udp_port) + " echo_tcp=" +
                  at(c.echo_host, c.echo_tcp_port) + " tunnel=" + at(c.tunnel_host, c.tunnel_port));
    EXPECT_EQ(stack.endpoint("tunnel"), at(c.tunnel_host, c.tunnel_port));
}

TEST(OperatorDaemon, ServiceLeftOutIsNotListening)
{
    OperatorStack without_udp(running({"tunnel", "echo_tcp"}));
    ASSERT_TRUE(without_udp.start()) << without_udp.error();
    const auto& c = without_udp.config();
    EXPECT_EQ(without_udp.ready_line(),
              "vokar-operatord ready echo_tcp=" + at(c.echo_host, c.echo_tcp_port) +
                  " tunnel=" + at(c.tunnel_host, c.tunnel_port));
    Socket probe = udp_socket();
    set_receive_timeout(probe.fd(), 300ms);
    ASSERT_TRUE(udp_send(probe.fd(), c.echo_host, c.echo_udp_port, "Echo this"));
    EXPECT_FALSE(udp_receive(probe.fd()));
    Socket tcp = tcp_connect(c.echo_host, c.echo_tcp_port);
    ASSERT_TRUE(tcp.valid());
    ASSERT_TRUE(send_all(tcp.fd(), "Echo this"));
    EXPECT_EQ(recv_some(tcp.fd(), 500), "Echo this");

    OperatorStack only_udp(running({"echo_udp"}));
    ASSERT_TRUE(only_udp.start()) << only_udp.error();
    EXPECT_FALSE(tcp_connect(only_udp.config().tunnel_host, only_udp.config().tunnel_port).valid());
    EXPECT_FALSE(tcp_connect(only_udp.config().echo_host, only_udp.config().echo_tcp_port).valid());
}

TEST(OperatorDaemon, StopsCleanlyOnSigtermOrSigintWithClientsConnected)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        OperatorStack stack;
        ASSERT_TRUE(stack.start()) << stack.error();
        Socket echo = tcp_connect(stack.config().echo_host, stack.config().echo_tcp_port);
        Socket tunnel = open_tunnel(stack.config().tunnel_host, stack.config().tunnel_port);
        ASSERT_TRUE(tunnel.valid());
        ASSERT_TRUE(
            send_all(tunnel.fd(), frame(1, "2\n" + stack.config().echo_host + "\n" +
                                               std::to_string(stack.config().echo_tcp_port))));
        ASSERT_TRUE(read_frame(tunnel.fd()));

        const auto begin = std::chrono::steady_clock::now();
        ASSERT_EQ(::kill(stack.pid(), signal), 0);
        while (stack.running() && std::chrono::steady_clock::now() - begin < 3s)
            std::this_thread::sleep_for(5ms);
        const auto took = std::chrono::steady_clock::now() - begin;
        EXPECT_EQ(stack.stop(), 0);
        EXPECT_LT(took, 1s);
        EXPECT_TRUE(closed_by_peer(echo.fd()));
        EXPECT_TRUE(closed_by_peer(tunnel.fd()));
    }
}

TEST(OperatorDaemon, StartFailsWithAClearMessage)
{
    const auto taken = free_loopback_ports(1, SOCK_STREAM);
    ASSERT_EQ(taken.size(), 1u);
    Socket holder(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(taken[0]);
    ASSERT_EQ(::bind(holder.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.fd(), 1), 0);

    OperatorStackOptions options;
    options.extra_config["echo_host"] = "127.0.0.1";
    options.extra_config["echo_tcp_port"] = std::to_string(taken[0]);
    OperatorStack clash(options);
    EXPECT_FALSE(clash.start());
    EXPECT_NE(clash.error().find("exited with status 1"), std::string::npos) << clash.error();
    EXPECT_NE(clash.error().find("echo_tcp: cannot bind " + at("127.0.0.1", taken[0]) +
                                 ": Address already in use"),
              std::string::npos)
        << clash.error();

    OperatorStack unknown(running({"echo_udp", "smtp"}));
    EXPECT_FALSE(unknown.start());
    EXPECT_NE(unknown.error().find("exited with status 2"), std::string::npos) << unknown.error();
    EXPECT_NE(unknown.error().find("unknown service 'smtp' (known: echo_udp echo_tcp tunnel web"),
              std::string::npos)
        << unknown.error();
}

} // namespace
} // namespace vokar::test
