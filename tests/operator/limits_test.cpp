// The limits every service of vokar-operatord applies to its clients:
// time-outs for silent connections and a share of the slots per source.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/operator/peer.h"
#include "tests/support/operator_stack.h"

// A sanitizer's own allocator and shadow memory swamp the daemon's figures.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VOKAR_MEMORY_MEASURABLE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VOKAR_MEMORY_MEASURABLE 0
#endif
#endif
#ifndef VOKAR_MEMORY_MEASURABLE
#define VOKAR_MEMORY_MEASURABLE 1
#endif

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

    Socket silent_echo = tcp_connect(c.echo_host, c.echo_tcp_port);
    Socket silent_tunnel = tcp_connect(c.tunnel_host, c.tunnel_port);
    Socket silent_web = tcp_connect(c.web_host, c.web_port);
    Socket echo = tcp_connect(c.echo_host, c.echo_tcp_port);
    ASSERT_TRUE(send_all(echo.fd(), "Echo this"));
    EXPECT_EQ(recv_exact(echo.fd(), 9), "Echo this");
    Socket tunnel = open_tunnel(c.tunnel_host, c.tunnel_port);
    ASSERT_TRUE(tunnel.valid());
    Socket relay = open_tunnel(c.tunnel_host, c.tunnel_port);
    ASSERT_TRUE(open_udp_relay(relay.fd(), c.echo_host, c.echo_udp_port));

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
    const std::pair<std::string, uint16_t> listeners[] = {
        {c.echo_host, c.echo_tcp_port}, {c.tunnel_host, c.tunnel_port}, {c.web_host, c.web_port}};
    for (const auto& [host, port] : listeners) {
        for (int i = 0; i < 1100; ++i) {
            flood.push_back(tcp_connect(host, port));
            ASSERT_TRUE(flood.back().valid()) << port << " #" << i;
        }
    }

    Socket echo = tcp_connect(c.echo_host, c.echo_tcp_port, "127.0.0.2");
    ASSERT_TRUE(send_all(echo.fd(), "Echo this"));
    EXPECT_EQ(recv_exact(echo.fd(), 9), "Echo this");

    Socket tunnel = open_tunnel(c.tunnel_host, c.tunnel_port, "CONNECT ", "127.0.0.2");
    ASSERT_TRUE(tunnel.valid());
    ASSERT_TRUE(open_udp_relay(tunnel.fd(), c.echo_host, c.echo_udp_port));

    Socket web = tcp_connect(c.web_host, c.web_port, "127.0.0.2");
    ASSERT_TRUE(send_all(web.fd(), servers_request()));
    EXPECT_EQ(recv_some(web.fd(), 15), "HTTP/1.1 200 OK");
}

// The daemon's resident memory in KiB.
long resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

// Clients that send through the tunnel to the echo and never read what
// comes back make the daemon buffer at most its budget, and it gives the
// memory back when they go.
TEST(OperatorLimits, ClientsThatNeverReadStayWithinTheBufferBudget)
{
    constexpr long kBudgetKib = 4096;
    OperatorStack stack(all_services({{"buffer_budget_kib", std::to_string(kBudgetKib)},
                                      {"max_connections_per_source", "1000"}}));
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& c = stack.config();
    const long before = resident_kib(stack.pid());

    std::vector<Socket> clients;
    const std::string data = frame(2, std::string(16 * 1024, 'x'));
    for (int i = 0; i < 200; ++i) {
        Socket tunnel = open_tunnel(c.tunnel_host, c.tunnel_port);
        ASSERT_TRUE(tunnel.valid()) << i;
        ASSERT_TRUE(send_all(
            tunnel.fd(), frame(1, "2\n" + c.echo_host + "\n" + std::to_string(c.echo_tcp_port))));
        ASSERT_EQ(read_frame(tunnel.fd())->type, 1) << i;
        ::fcntl(tunnel.fd(), F_SETFL, ::fcntl(tunnel.fd(), F_GETFL) | O_NONBLOCK);
        clients.push_back(std::move(tunnel));
    }
    // Two passes: the first clients' data may only move on while later
    // ones connect.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Socket& client : clients) {
            while (::send(client.fd(), data.data(), data.size(), MSG_NOSIGNAL) > 0) {
            }
        }
    }
    const long peak = resident_kib(stack.pid());
    // They go away with a reset: a plain close would wait behind the data
    // the daemon does not read, until the idle time-out.
    for (const Socket& client : clients) {
        const linger abort{1, 0};
        ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    clients.clear();
    // The daemon is still served, and gives the memory back.
    Socket probe = tcp_connect(c.echo_host, c.echo_tcp_port);
    ASSERT_TRUE(send_all(probe.fd(), "Echo this"));
    EXPECT_EQ(recv_exact(probe.fd(), 9), "Echo this");
    if (!VOKAR_MEMORY_MEASURABLE)
        GTEST_SKIP() << "memory use is not measurable under a sanitizer";
    long after = resident_kib(stack.pid());
    for (int i = 0; i < 100 && after - before > 2048; ++i) {
        std::this_thread::sleep_for(20ms);
        after = resident_kib(stack.pid());
    }
    std::printf("daemon RSS: %ld KiB before, %ld at the peak, %ld after\n", before, peak, after);
    EXPECT_LT(peak - before, 3 * kBudgetKib);
    EXPECT_LT(after - before, 2048);
}

} // namespace
} // namespace vokar::test
