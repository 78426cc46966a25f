#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/operator/peer.h"
#include "tests/support/free_ports.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

// The stack allows the tunnel a few targets beyond the operator's endpoints:
// sockets the test owns.
OperatorStackOptions with_allowed_targets(std::initializer_list<const Socket*> sockets)
{
    std::string list;
    for (const Socket* socket : sockets)
        list += "127.0.0.1:" + std::to_string(local_port(socket->fd())) + ",";
    OperatorStackOptions options;
    options.extra_config["tunnel_allowed_targets"] = list;
    return options;
}

class TunnelServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stack_.start()) << stack_.error(); }
    // Whatever the test did, the daemon is still up and leaves cleanly (a
    // sanitizer finding in it fails here).
    void TearDown() override
    {
        if (stack_.pid() > 0) {
            EXPECT_EQ(stack_.stop(), 0) << stack_.log();
        }
    }

    const std::string& tunnel_host() const { return stack_.config().tunnel_host; }
    uint16_t tunnel_port() const { return stack_.config().tunnel_port; }
    const std::string& echo_host() const { return stack_.config().echo_host; }
    uint16_t echo_udp() const { return stack_.config().echo_udp_port; }
    uint16_t echo_tcp() const { return stack_.config().echo_tcp_port; }

    // A tunnel with a UDP relay to the echo service; "Echo this" makes the
    // round trip as type 2 out and type 0 back.
    void expect_udp_echo(int tunnel, const std::string& text = "Echo this")
    {
        ASSERT_TRUE(send_all(tunnel, frame(2, text)));
        const auto reply = read_frame(tunnel);
        ASSERT_TRUE(reply) << "no echo through the tunnel";
        EXPECT_EQ(reply->type, 0);
        EXPECT_EQ(reply->payload, text);
    }

    void expect_open_closes_tunnel(const std::string& open)
    {
        Socket tunnel = open_tunnel(tunnel_host(), tunnel_port());
        ASSERT_TRUE(tunnel.valid());
        ASSERT_TRUE(send_all(tunnel.fd(), frame(1, open)));
        EXPECT_TRUE(closed_by_peer(tunnel.fd())) << open;
    }

    Socket target_listener_ = tcp_listener();
    Socket first_peer_ = udp_socket();
    Socket second_peer_ = udp_socket();
    OperatorStack stack_{with_allowed_targets({&target_listener_, &first_peer_, &second_peer_})};
};

class TunnelMethodTest : public TunnelServiceTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(TunnelMethodTest, DoubledRequestGetsOneOkAndUdpRelayReachesTheEcho)
{
    Socket tunnel = open_tunnel(tunnel_host(), tunnel_port(), GetParam());
    ASSERT_TRUE(tunnel.valid()) << "no lone 200 response";
    EXPECT_TRUE(quiet_for(tunnel.fd(), 200ms)) << "the second request copy was answered";

    const auto relay_port = open_udp_relay(tunnel.fd(), echo_host(), echo_udp());
    ASSERT_TRUE(relay_port);
    EXPECT_NE(*relay_port, 0);
    expect_udp_echo(tunnel.fd());
    expect_udp_echo(tunnel.fd(), std::string("\0binary\xff", 8));
}

TEST_P(TunnelMethodTest, TcpRelayCarriesAStreamBothWays)
{
    Socket tunnel = open_tunnel(tunnel_host(), tunnel_port(), GetParam());
    ASSERT_TRUE(tunnel.valid());
    ASSERT_TRUE(
        send_all(tunnel.fd(), frame(1, "2\n" + echo_host() + "\n" + std::to_string(echo_tcp()))));
    const auto connected = read_frame(tunnel.fd());
    ASSERT_TRUE(connected);
    EXPECT_EQ(connected->type, 1);
    EXPECT_EQ(connected->payload, "");

    std::string sent;
    for (int i = 0; i < 3; ++i) {
        const std::string chunk(40000, static_cast<char>('a' + i));
        ASSERT_TRUE(send_all(tunnel.fd(), frame(2, chunk)));
        sent += chunk;
    }
    std::string received;
    while (received.size() < sent.size()) {
        const auto data = read_frame(tunnel.fd());
        ASSERT_TRUE(data) << "stream ended after " << received.size() << " bytes";
        ASSERT_EQ(data->type, 0);
        // Clients read frames into buffers of about 3000 bytes.
        ASSERT_LE(data->payload.size(), 3000u);
        received += data->payload;
    }
    EXPECT_EQ(received, sent);
}

INSTANTIATE_TEST_SUITE_P(Methods, TunnelMethodTest, ::testing::Values("NOOB CONNECT ", "CONNECT "),
                         [](const auto& info) { return info.index == 0 ? "Plain" : "Connect"; });

TEST_F(TunnelServiceTest, OpenFrameAndDataInTheRequestsWriteAreServedInOrder)
{
    Socket tunnel = tcp_connect(tunnel_host(), tunnel_port());
    ASSERT_TRUE(tunnel.valid());
    const std::string request = tunnel_request("NOOB CONNECT ", tunnel_port());
    ASSERT_TRUE(send_all(tunnel.fd(),
                         request + request +
                             frame(1, "1\n" + echo_host() + "\n" + std::to_string(echo_udp())) +
                             frame(2, "Echo this")));
    EXPECT_EQ(recv_exact(tunnel.fd(), kOk.size()), kOk);
    const auto port = read_frame(tunnel.fd());
    ASSERT_TRUE(port);
    EXPECT_EQ(port->type, 2);
    const auto echo = read_frame(tunnel.fd());
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->type, 0);
    EXPECT_EQ(echo->payload, "Echo this");
}

// The media path announces its destinations with type 50 and then uses the
// channel types 51, 52, ... in announcement order.
TEST_F(TunnelServiceTest, ChannelsCarryDatagramsToAndFromAnnouncedDestinations)
{
    Socket tunnel = open_tunnel(tunnel_host(), tunnel_port());
    ASSERT_TRUE(tunnel.valid());
    const auto relay_port = open_udp_relay(tunnel.fd(), echo_host(), echo_udp());
    ASSERT_TRUE(relay_port);
    const Socket& first = first_peer_;
    const Socket& second = second_peer_;
    Socket unannounced = udp_socket();
    const auto announce = [&](const std::string& payload) {
        return send_all(tunnel.fd(), frame(50, payload));
    };
    ASSERT_TRUE(announce("127.0.0.1\n" + std::to_string(local_port(first.fd()))));  // 51
    ASSERT_TRUE(announce("no port here"));                                          // 52
    ASSERT_TRUE(announce("127.0.0.1\n" + std::to_string(local_port(second.fd())))); // 53

    ASSERT_TRUE(send_all(tunnel.fd(), frame(53, "to the second")));
    const auto out = udp_receive(second.fd());
    ASSERT_TRUE(out);
    EXPECT_EQ(out->payload, "to the second");
    EXPECT_EQ(out->from_port, *relay_port);
    ASSERT_TRUE(send_all(tunnel.fd(), frame(51, "to the first")));
    EXPECT_EQ(udp_receive(first.fd())->payload, "to the first");

    const struct {
        int from;
        const char* text;
        uint8_t type;
    } replies[] = {
        {second.fd(), "from the second", 53},
        {first.fd(), "from the first", 51},
        // Only the IP is compared when no destination matches exactly: the
        // first announced destination on 127.0.0.1.
        {unannounced.fd(), "from elsewhere", 51},
    };
    for (const auto& r : replies) {
        ASSERT_TRUE(udp_send(r.from, tunnel_host(), *relay_port, r.text));
        const auto in = read_frame(tunnel.fd());
        ASSERT_TRUE(in) << r.text;
        EXPECT_EQ(in->type, r.type) << r.text;
        EXPECT_EQ(in->payload, r.text);
    }
    expect_udp_echo(tunnel.fd());
}

TEST_F(TunnelServiceTest, TargetsAreLookedUpByNameOrTheTunnelCloses)
{
    Socket named = open_tunnel(tunnel_host(), tunnel_port());
    ASSERT_TRUE(named.valid());
    ASSERT_TRUE(open_udp_relay(named.fd(), "localhost", local_port(first_peer_.fd())));
    ASSERT_TRUE(send_all(named.fd(), frame(2, "by name")));
    const auto by_name = udp_receive(first_peer_.fd());
    ASSERT_TRUE(by_name);
    EXPECT_EQ(by_name->payload, "by name");

    const auto unused = free_loopback_ports(1, SOCK_STREAM);
    ASSERT_EQ(unused.size(), 1u);
    const std::string unreachable[] = {
        "2\n127.0.0.1\n" + std::to_string(unused[0]), // refused
        "2\nno host!\n5002",
        "1\nno host!\n10469",
        "3\n127.0.0.1\n10469", // neither relay kind
        "1\n127.0.0.1\n0",
    };
    for (const auto& open : unreachable)
        expect_open_closes_tunnel(open);
}

// Loopback services outside the allowed list, the tunnel itself and private
// networks are out of reach, by TCP, by UDP and as media channels.
TEST_F(TunnelServiceTest, RelaysOnlyToTheOperatorsOwnEndpoints)
{
    Socket outside_tcp = tcp_listener();
    Socket outside_udp = udp_socket();
    const std::string own = std::to_string(tunnel_port());
    const std::string refused[] = {
        "2\n127.0.0.1\n" + std::to_string(local_port(outside_tcp.fd())),
        "1\n127.0.0.1\n" + std::to_string(local_port(outside_udp.fd())),
        "2\n" + tunnel_host() + "\n" + own,
        "1\n" + tunnel_host() + "\n" + own,
        "2\n10.20.30.40\n5060",
        "1\n192.168.1.1\n5060",
    };
    for (const auto& open : refused)
        expect_open_closes_tunnel(open);

    Socket tunnel = open_tunnel(tunnel_host(), tunnel_port());
    ASSERT_TRUE(tunnel.valid());
    ASSERT_TRUE(open_udp_relay(tunnel.fd(), echo_host(), echo_udp()));
    const std::string destinations[] = {
        "127.0.0.1\n" + std::to_string(local_port(outside_udp.fd())), // 51
        tunnel_host() + "\n" + own,                                   // 52
        "172.16.0.9\n5060",                                           // 53
        echo_host() + "\n" + std::to_string(echo_udp()),              // 54
    };
    for (const auto& destination : destinations)
        ASSERT_TRUE(send_all(tunnel.fd(), frame(50, destination)));
    ASSERT_TRUE(send_all(tunnel.fd(), frame(51, "leak") + frame(52, "leak") + frame(53, "leak") +
                                          frame(54, "allowed")));
    // The echo's answer proves the earlier channel frames were handled.
    const auto echo = read_frame(tunnel.fd());
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->payload, "allowed");
    char byte;
    EXPECT_LT(::recv(outside_udp.fd(), &byte, 1, MSG_DONTWAIT), 0) << "datagram left the tunnel";
}

// A TCP target that ends at once: each of the first `count` clients it
// accepts gets `answer` and is closed, or has everything it sent recorded
// until it closes (when `answer` is empty).
class BriefTarget {
public:
    BriefTarget(Socket listener, std::string answer, int count)
        : listener_(std::move(listener)), port_(local_port(listener_.fd()))
    {
        thread_ = std::thread([this, answer = std::move(answer), count] {
            for (int i = 0; i < count; ++i) {
                Socket client = accept_client(listener_.fd());
                if (!client.valid())
                    return;
                if (!answer.empty()) {
                    send_all(client.fd(), answer);
                    continue;
                }
                std::string bytes;
                for (std::string piece; !(piece = recv_some(client.fd(), 65536)).empty();)
                    bytes += piece;
                std::lock_guard lock(mutex_);
                received_.push_back(std::move(bytes));
            }
        });
    }
    ~BriefTarget() { thread_.join(); }
    uint16_t port() const { return port_; }
    std::vector<std::string> received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    Socket listener_;
    uint16_t port_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> received_;
};

// The target answers as soon as it is connected and closes without reading
// what the client sent, so its close may reach the relay as a reset.
TEST_F(TunnelServiceTest, WhatATargetSendsBeforeClosingReachesTheClientFirst)
{
    constexpr int kRuns = 10;
    const std::string answer = "SIP/2.0 200 OK\r\n\r\n";
    BriefTarget target(std::move(target_listener_), answer, kRuns);
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        Socket tunnel = open_tunnel(tunnel_host(), tunnel_port());
        ASSERT_TRUE(tunnel.valid());
        ASSERT_TRUE(
            send_all(tunnel.fd(), frame(1, "2\n127.0.0.1\n" + std::to_string(target.port())) +
                                      frame(2, "REGISTER sip:vokar.test SIP/2.0\r\n\r\n")));
        const auto connected = read_frame(tunnel.fd());
        ASSERT_TRUE(connected);
        EXPECT_EQ(connected->type, 1);
        std::string received;
        while (received.size() < answer.size()) {
            const auto data = read_frame(tunnel.fd());
            ASSERT_TRUE(data) << "the tunnel ended after " << received.size() << " bytes";
            ASSERT_EQ(data->type, 0);
            received += data->payload;
        }
        EXPECT_EQ(received, answer);
        EXPECT_TRUE(closed_by_peer(tunnel.fd()));
    }
}

// The client's data leaves with its open frame, right behind the request,
// and the client closes before the target is even connected (or, for a
// name, looked up).
TEST_F(TunnelServiceTest, WhatAClientSendsBeforeClosingReachesTheTarget)
{
    const char* hosts[] = {"127.0.0.1", "localhost"};
    BriefTarget target(std::move(target_listener_), "", 2 * std::size(hosts));
    std::vector<std::string> expected;
    for (const char* host : hosts) {
        for (size_t size : {size_t{9}, size_t{200000}}) {
            const std::string data(size, static_cast<char>('a' + expected.size()));
            std::string frames;
            for (size_t at = 0; at < data.size(); at += kTunnelMaxPayload)
                frames += frame(2, std::string_view(data).substr(at, kTunnelMaxPayload));
            Socket tunnel = tcp_connect(tunnel_host(), tunnel_port());
            ASSERT_TRUE(tunnel.valid());
            const std::string request = tunnel_request("CONNECT ", tunnel_port());
            ASSERT_TRUE(send_all(tunnel.fd(), request + request +
                                                  frame(1, std::string("2\n") + host + "\n" +
                                                               std::to_string(target.port())) +
                                                  frames));
            ::shutdown(tunnel.fd(), SHUT_WR);
            expected.push_back(data);
            // The target sees the end of the data before this client's socket
            // is gone, so the next client cannot overtake it.
            EXPECT_TRUE(closed_by_peer(tunnel.fd())) << host << " " << size;
        }
    }
    const auto received = target.received();
    ASSERT_EQ(received.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(received[i] == expected[i]) << i << ": " << received[i].size() << " bytes";
}

struct BadClient {
    const char* name;
    std::string bytes; // sent after connecting
    std::string reply; // expected before the close
    bool client_hangs_up = false;
};

void PrintTo(const BadClient& client, std::ostream* out)
{
    *out << client.name;
}

std::string after_handshake(std::string_view bytes)
{
    const std::string request = tunnel_request("CONNECT ", 80);
    return request + request + std::string(bytes);
}

std::string length_only(uint32_t length)
{
    return after_handshake(length_field(length));
}

class TunnelBadClientTest : public TunnelServiceTest,
                            public ::testing::WithParamInterface<BadClient> {};

// A malformed client is closed; the daemon and its other clients carry on.
TEST_P(TunnelBadClientTest, ClosesOnlyThatClient)
{
    Socket witness = open_tunnel(tunnel_host(), tunnel_port());
    ASSERT_TRUE(witness.valid());
    ASSERT_TRUE(open_udp_relay(witness.fd(), echo_host(), echo_udp()));

    Socket bad = tcp_connect(tunnel_host(), tunnel_port());
    ASSERT_TRUE(bad.valid());
    // The daemon may close before it has read everything, so a failed send is
    // no failure here.
    send_all(bad.fd(), GetParam().bytes);
    if (GetParam().client_hangs_up) {
        bad = Socket();
    } else {
        if (!GetParam().reply.empty()) {
            EXPECT_EQ(recv_exact(bad.fd(), GetParam().reply.size()), GetParam().reply);
        }
        EXPECT_TRUE(closed_by_peer(bad.fd()));
    }

    expect_udp_echo(witness.fd());
    Socket fresh = open_tunnel(tunnel_host(), tunnel_port());
    ASSERT_TRUE(fresh.valid());
    ASSERT_TRUE(open_udp_relay(fresh.fd(), echo_host(), echo_udp()));
    expect_udp_echo(fresh.fd());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TunnelBadClientTest,
    ::testing::Values(
        BadClient{"FrameLength0", length_only(0), std::string(kOk)},
        BadClient{"FrameLength4", length_only(4), std::string(kOk)},
        BadClient{"FrameLength2Pow31", length_only(0x80000000u), std::string(kOk)},
        BadClient{"FrameLengthOver64KiB", length_only(64 * 1024 + 1), std::string(kOk)},
        BadClient{"UnknownMethod", "GET / HTTP/1.1\r\nHost: x\r\n\r\n",
                  "HTTP/1.1 405 Method Not Allowed\r\n\r\n"},
        BadClient{"BinaryGarbage", std::string("\x16\x03\x01\x02\x00\x01\x00", 7),
                  "HTTP/1.1 405 Method Not Allowed\r\n\r\n"},
        BadClient{"RequestWithoutEnd", "CONNECT " + std::string(9000, 'a'), ""},
        BadClient{"MalformedOpen", after_handshake(frame(1, "1\n127.0.0.1")), std::string(kOk)},
        BadClient{"HangUpMidFrame", after_handshake(frame(2, "cut short").substr(0, 8)), "", true},
        BadClient{"HangUpMidRequest", "NOOB CONNECT 127.0.0.1:8", "", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vokar::test
