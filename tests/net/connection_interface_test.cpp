#include "net/connection_interface.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/scramble.h"
#include "tests/net/loopback_peer.h"
#include "tests/net/recording_listener.h"

namespace vokar {
namespace {

using test::RecordingListener;
using test::TcpPeer;
using test::UdpPeer;

class FixedPolicy : public TransportPolicy {
public:
    FixedPolicy(bool tunnel, bool connect) : tunnel_(tunnel), connect_(connect) {}
    bool needsTunnel(bool) const override { return tunnel_; }
    bool prefersConnect() const override { return connect_; }

private:
    bool tunnel_, connect_;
};

std::unique_ptr<ConnectionInterface> make(bool tcp, bool scramble, test::ErrorLog& errors,
                                          TransportPolicy* policy = nullptr,
                                          uint16_t tunnel_port = 80)
{
    return std::make_unique<ConnectionInterface>("127.0.0.1", tcp, scramble, errors.callback(),
                                                 policy, TunnelServer{"127.0.0.1", tunnel_port});
}

TEST(ConnectionInterfaceUdp, ScrambledTrafficBothWays)
{
    UdpPeer peer;
    test::ErrorLog errors;
    RecordingListener listener;
    auto c = make(false, true, errors);
    c->setListener(&listener);
    c->open(0, peer.port(), "127.0.0.1", true);
    ASSERT_TRUE(c->connected());
    EXPECT_EQ(listener.results(), std::vector<int>{0});

    std::set<char> first_bytes;
    for (int i = 0; i < 8; ++i) {
        c->send("REGISTER sip:x SIP/2.0");
        const std::string wire = peer.receive();
        ASSERT_EQ(wire.size(), 23u) << "one byte longer than the text";
        EXPECT_EQ(unscramble(wire), "REGISTER sip:x SIP/2.0");
        first_bytes.insert(wire[0]);
    }
    EXPECT_GT(first_bytes.size(), 1u);

    peer.reply(scramble(std::string("SIP/2.0 200 OK\0tail", 19), 0x42));
    ASSERT_TRUE(listener.wait_messages(1));
    EXPECT_EQ(listener.messages()[0], std::string("SIP/2.0 200 OK\0tail", 19))
        << "scrambled text keeps its zero bytes";
}

TEST(ConnectionInterfaceUdp, PlainDatagramsAreCutAtAZeroAndEmptyOnesDoNotStopTheLoop)
{
    UdpPeer peer;
    test::ErrorLog errors;
    RecordingListener listener;
    auto c = make(false, false, errors);
    c->setListener(&listener);
    c->open(0, peer.port(), "127.0.0.1", true);
    c->send("hello");
    EXPECT_EQ(peer.receive(), "hello");
    peer.reply(std::string("abc\0def", 7));
    peer.reply("");
    peer.reply("after the empty one");
    ASSERT_TRUE(listener.wait_messages(2));
    EXPECT_EQ(listener.messages(), (std::vector<std::string>{"abc", "after the empty one"}));
    EXPECT_TRUE(c->receiving());
}

TEST(ConnectionInterfaceUdp, AnIcmpErrorDoesNotStopTheLoop)
{
    test::ErrorLog errors;
    RecordingListener listener;
    auto peer = std::make_unique<UdpPeer>();
    const uint16_t port = peer->port();
    auto c = make(false, false, errors);
    c->setListener(&listener);
    c->open(0, port, "127.0.0.1", true);
    peer.reset(); // nothing listens: the next datagram draws a port-unreachable
    c->send("into the void");
    for (int i = 0; i < 100 && errors.get().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(errors.get().empty());
    EXPECT_EQ(errors.get()[0], (std::pair<int, int>{2, 10061}));

    UdpPeer back(port);
    c->send("are you back");
    EXPECT_EQ(back.receive(), "are you back");
    back.reply("yes");
    ASSERT_TRUE(listener.wait_messages(1));
    EXPECT_EQ(listener.messages()[0], "yes");
}

TEST(ConnectionInterfaceUdp, ANonZeroLocalPortIsShiftedByTheOffset)
{
    UdpPeer peer;
    test::ErrorLog errors;
    auto c = make(false, true, errors);
    EXPECT_LE(c->local_port_offset(), 1998);
    c->open(20000, peer.port(), "127.0.0.1", false);
    ASSERT_TRUE(c->connected());
    EXPECT_EQ(c->bound_port(), 20000 + c->local_port_offset());
}

TEST(ConnectionInterfaceTcp, PlainChunksBothWays)
{
    TcpPeer peer;
    test::ErrorLog errors;
    RecordingListener listener;
    auto c = make(true, false, errors);
    c->setListener(&listener);
    c->open(5098, peer.port(), "127.0.0.1", true);
    ASSERT_TRUE(c->connected());
    ASSERT_TRUE(peer.accept());
    c->send("<stream:stream>");
    EXPECT_EQ(peer.read(15), "<stream:stream>");
    peer.write("<stream:features/>");
    ASSERT_TRUE(listener.wait_messages(1));
    EXPECT_EQ(listener.messages()[0], "<stream:features/>");
    peer.drop();
    for (int i = 0; i < 300 && listener.results().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(c->receiving()) << "a closed peer ends the loop";
    EXPECT_EQ(errors.get().back().first, 2);
    EXPECT_EQ(listener.results(), (std::vector<int>{0, 1})) << "the loss is reported";
    EXPECT_FALSE(c->connected());
}

// Waits, bounded, until the listener has seen `n` connect results.
bool wait_results(RecordingListener& listener, size_t n)
{
    for (int i = 0; i < 300 && listener.results().size() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return listener.results().size() >= n;
}

TEST(ConnectionInterfaceTcp, AZeroByteBreaksTheStreamAfterTheTextBeforeIt)
{
    TcpPeer peer;
    test::ErrorLog errors;
    RecordingListener listener;
    auto c = make(true, false, errors);
    c->setListener(&listener);
    c->open(0, peer.port(), "127.0.0.1", true);
    ASSERT_TRUE(peer.accept());
    peer.write(std::string("<message><body>hi\0</body></message><presence/>", 46));
    ASSERT_TRUE(wait_results(listener, 2));
    EXPECT_EQ(listener.results(), (std::vector<int>{0, 1})) << "reported as a lost connection";
    EXPECT_EQ(listener.messages(), std::vector<std::string>{"<message><body>hi"});
    EXPECT_FALSE(c->connected());
    EXPECT_EQ(peer.read(1), "") << "the client closed its end";
}

TEST(ConnectionInterfaceTcp, TrySendNeverWaitsAndSendsNothingWhenItCannot)
{
    TcpPeer peer;
    test::ErrorLog errors;
    auto c = make(true, false, errors);
    c->open(0, peer.port(), "127.0.0.1", false);
    ASSERT_TRUE(peer.accept());

    // The peer reads nothing, so the socket buffers fill up.
    const std::string block(64 << 10, 'b');
    size_t accepted = 0;
    const auto start = std::chrono::steady_clock::now();
    while (c->trySend(block))
        accepted += block.size();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_GT(accepted, 0u);

    // A send now blocks, holding the send lock, until the peer reads.
    std::thread blocked([&] { c->send(block); });
    EXPECT_EQ(peer.read(accepted + block.size()).size(), accepted + block.size())
        << "exactly what trySend accepted, then the blocking send";
    blocked.join();
    EXPECT_TRUE(c->trySend(" "));
    EXPECT_EQ(peer.read(1), " ");
    EXPECT_TRUE(errors.get().empty());

    c->close();
    EXPECT_FALSE(c->trySend(" ")) << "no transport";
}

TEST(ConnectionInterfaceTcp, ARefusedConnectionReportsKindZeroWith10061)
{
    uint16_t closed_port;
    {
        TcpPeer gone;
        closed_port = gone.port();
    }
    test::ErrorLog errors;
    RecordingListener listener;
    auto c = make(true, false, errors);
    c->setListener(&listener);
    c->open(0, closed_port, "127.0.0.1", true);
    EXPECT_FALSE(c->connected());
    EXPECT_EQ(listener.results(), std::vector<int>{1});
    EXPECT_EQ(errors.get(), (std::vector<std::pair<int, int>>{{0, 10061}}));
    c->send("nothing happens");
}

TEST(ConnectionInterfaceTcp, AnUnknownHostReports11001)
{
    test::ErrorLog errors;
    auto c = make(true, false, errors);
    c->open(0, 5222, "no-such-host.invalid", true);
    EXPECT_FALSE(c->connected());
    ASSERT_EQ(errors.get().size(), 1u);
    EXPECT_EQ(errors.get()[0].first, 0);
    EXPECT_GE(errors.get()[0].second, 11001);
}

TEST(ConnectionInterfaceTunnel, ThePolicyPicksTheTunnelAndItsMode)
{
    for (bool prefers_connect : {false, true}) {
        TcpPeer tunnel_server;
        test::ErrorLog errors;
        FixedPolicy policy(true, prefers_connect);
        auto c = make(false, true, errors, &policy, tunnel_server.port());
        EXPECT_TRUE(c->uses_tunnel());
        EXPECT_EQ(c->tunnel_connect_mode(), prefers_connect);
        c->open(0, 5060, "sip.relay", true);
        ASSERT_TRUE(c->connected());
        ASSERT_TRUE(tunnel_server.accept());
        const std::string request = std::string(prefers_connect ? "CONNECT " : "NOOB CONNECT ") +
                                    "127.0.0.1:" + std::to_string(tunnel_server.port()) +
                                    " HTTP/1.1\r\n\r\n";
        EXPECT_EQ(tunnel_server.read(request.size() * 2), request + request);
        c->close();
    }
    FixedPolicy direct(false, true);
    test::ErrorLog errors;
    EXPECT_FALSE(make(false, false, errors, &direct)->uses_tunnel());
}

// Routes one blocked service through the tunnel and records what direct
// connects reported.
class ServicePolicy : public FixedPolicy {
public:
    ServicePolicy() : FixedPolicy(false, true) {}
    bool tunnelsService(uint16_t port, bool use_tcp) const override
    {
        return use_tcp && port == tunnelled;
    }
    void directConnectResult(uint16_t port, bool use_tcp, int error) override
    {
        results.emplace_back(port, use_tcp ? error : -1);
    }
    uint16_t tunnelled = 0;
    std::vector<std::pair<uint16_t, int>> results;
};

TEST(ConnectionInterfaceTunnel,
     DirectConnectOutcomesReachThePolicyWhichMayRouteAServiceThroughTheTunnel)
{
    TcpPeer server;
    uint16_t closed_port;
    {
        TcpPeer gone;
        closed_port = gone.port();
    }
    ServicePolicy policy;
    test::ErrorLog errors;
    make(true, false, errors, &policy)->open(0, closed_port, "127.0.0.1", false);
    make(true, false, errors, &policy)->open(0, server.port(), "127.0.0.1", false);
    make(false, false, errors, &policy)->open(0, server.port(), "127.0.0.1", false);
    EXPECT_EQ(policy.results,
              (std::vector<std::pair<uint16_t, int>>{{closed_port, 10061}, {server.port(), 0}}))
        << "TCP only";

    TcpPeer tunnel_server;
    policy.tunnelled = 5222;
    auto c = make(true, false, errors, &policy, tunnel_server.port());
    EXPECT_FALSE(c->uses_tunnel()) << "decided when the service is known";
    c->open(0, 5222, "xmpp.example", false);
    EXPECT_TRUE(c->uses_tunnel());
    EXPECT_TRUE(c->tunnel_connect_mode());
    ASSERT_TRUE(tunnel_server.accept());
    EXPECT_EQ(policy.results.size(), 2u) << "a tunnel is no direct connect";
}

class BlockingListener : public ConnectionListener {
public:
    void onReceive(const std::string&) override
    {
        entered.set();
        release.wait(5000);
        ++calls;
    }
    void onConnectResult(int) override {}
    platform::Event entered, release;
    std::atomic<int> calls{0};
};

TEST(ConnectionInterfaceLifetime, CloseEndsABlockedReceiveQuickly)
{
    TcpPeer peer;
    test::ErrorLog errors;
    auto c = make(true, false, errors);
    c->open(0, peer.port(), "127.0.0.1", true);
    ASSERT_TRUE(peer.accept());
    const auto start = std::chrono::steady_clock::now();
    c->close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_FALSE(c->receiving());
    EXPECT_TRUE(errors.get().empty()) << "a deliberate close is no failure";
}

TEST(ConnectionInterfaceLifetime, DestructionWaitsForAListenerStillRunning)
{
    UdpPeer peer;
    test::ErrorLog errors;
    BlockingListener listener;
    auto c = make(false, false, errors);
    c->setListener(&listener);
    c->open(0, peer.port(), "127.0.0.1", true);
    c->send("x");
    peer.receive();
    peer.reply("wake");
    ASSERT_TRUE(listener.entered.wait(3000));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        listener.release.set();
    });
    c->close(); // bounded even though the listener is still busy
    c.reset();  // waits for the listener to return
    EXPECT_EQ(listener.calls, 1);
    release.join();
}

// Blocks in its first onReceive until released, and records connect results.
class HoldingListener : public RecordingListener {
public:
    void onReceive(const std::string& message) override
    {
        if (!held_.exchange(true)) {
            entered.set();
            release.wait(5000);
        }
        RecordingListener::onReceive(message);
    }
    platform::Event entered, release;

private:
    std::atomic<bool> held_{false};
};

TEST(ConnectionInterfaceLifetime, ACloseDuringAnOpenWins)
{
    UdpPeer peer;
    test::ErrorLog errors;
    HoldingListener listener;
    auto c = make(false, false, errors);
    c->setListener(&listener);
    c->open(0, peer.port(), "127.0.0.1", true);
    c->send("x");
    peer.receive();
    peer.reply("hold the receive thread");
    ASSERT_TRUE(listener.entered.wait(3000));

    // The second open stops the old transport and then waits for the receive
    // thread, which is still in the listener; a close comes meanwhile.
    std::thread reopen([&] { c->open(0, peer.port(), "127.0.0.1", true); });
    for (int i = 0; i < 300 && c->receiving(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(c->receiving());
    c->close();
    listener.release.set();
    reopen.join();
    EXPECT_FALSE(c->connected());
    EXPECT_FALSE(c->receiving());
    EXPECT_EQ(listener.results(), (std::vector<int>{0, 1}));
}

} // namespace
} // namespace vokar
