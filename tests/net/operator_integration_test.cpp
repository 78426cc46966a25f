// The connectivity layer against the operator's real echo and tunnel services.

#include <gtest/gtest.h>

#include "account/server_list.h"
#include "net/connection_interface.h"
#include "net/transport_probe.h"
#include "tests/net/recording_listener.h"
#include "tests/support/operator_stack.h"
#include "tests/support/restricted_network.h"

namespace vokar {
namespace {

using test::OperatorStack;
using test::OperatorStackOptions;
using test::RecordingListener;

class ForcedTunnel : public TransportPolicy {
public:
    explicit ForcedTunnel(bool connect_mode) : connect_mode_(connect_mode) {}
    bool needsTunnel(bool) const override { return true; }
    bool prefersConnect() const override { return connect_mode_; }

private:
    bool connect_mode_;
};

class NetIntegration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stack_.start()) << stack_.error(); }

    std::unique_ptr<ConnectionInterface> connection(bool tcp, bool scramble,
                                                    TransportPolicy* policy = nullptr)
    {
        const auto& c = stack_.config();
        return std::make_unique<ConnectionInterface>("127.0.0.1", tcp, scramble, errors_.callback(),
                                                     policy,
                                                     TunnelServer{c.tunnel_host, c.tunnel_port});
    }

    // Sends each text and expects it back through the echo service.
    void round_trips(ConnectionInterface& c, RecordingListener& listener)
    {
        const std::vector<std::string> texts = {"INVITE sip:bob@vokar.test SIP/2.0",
                                                std::string(1200, 'x'), "short"};
        std::string expected;
        for (size_t i = 0; i < texts.size(); ++i) {
            c.send(texts[i]);
            ASSERT_TRUE(listener.wait_messages(i + 1, 5000)) << i;
            expected += texts[i];
        }
        // TCP may join echoes; compare the stream of what came back.
        ASSERT_TRUE(listener.wait_bytes(expected.size()));
        EXPECT_EQ(listener.joined(), expected);
    }

    OperatorStack stack_;
    test::ErrorLog errors_;
};

TEST_F(NetIntegration, DirectConnectionsCarryPlainAndScrambledText)
{
    for (bool tcp : {false, true}) {
        for (bool scramble : {false, true}) {
            SCOPED_TRACE(std::string(tcp ? "tcp" : "udp") + (scramble ? " scrambled" : " plain"));
            RecordingListener listener;
            auto c = connection(tcp, scramble);
            c->setListener(&listener);
            const auto& conf = stack_.config();
            c->open(tcp ? 0 : 5098, tcp ? conf.echo_tcp_port : conf.echo_udp_port, conf.echo_host,
                    true);
            ASSERT_TRUE(c->connected());
            round_trips(*c, listener);
        }
    }
    EXPECT_TRUE(errors_.get().empty());
}

TEST_F(NetIntegration, TheTunnelInEachModeReachesUdpAndTcpTargets)
{
    for (bool connect_mode : {false, true}) {
        for (bool tcp : {false, true}) {
            SCOPED_TRACE(std::string(connect_mode ? "CONNECT" : "NOOB CONNECT") +
                         (tcp ? " tcp" : " udp"));
            ForcedTunnel policy(connect_mode);
            RecordingListener listener;
            auto c = connection(tcp, tcp ? false : true, &policy);
            ASSERT_TRUE(c->uses_tunnel());
            c->setListener(&listener);
            const auto& conf = stack_.config();
            c->open(0, tcp ? conf.echo_tcp_port : conf.echo_udp_port, conf.echo_host, true);
            ASSERT_TRUE(c->connected());
            round_trips(*c, listener);
            EXPECT_TRUE(c->tunnel()->target_connected());
            EXPECT_EQ(c->tunnel()->relay_port() != 0, !tcp) << "a UDP relay reports its port";
        }
    }
}

// The tunnel server refuses frames over 64 KiB; a longer message crosses in
// several frames, whether it waits for the target or leaves at once.
TEST_F(NetIntegration, AMessageLongerThanOneTunnelFrameArrivesWhole)
{
    ForcedTunnel policy(true);
    RecordingListener listener;
    auto c = connection(true, false, &policy);
    c->setListener(&listener);
    const auto& conf = stack_.config();
    c->open(0, conf.echo_tcp_port, conf.echo_host, true);
    ASSERT_TRUE(c->connected());
    const std::string early(70000, 'e');
    c->send(early);
    ASSERT_TRUE(listener.wait_bytes(early.size())) << listener.joined().size();
    ASSERT_TRUE(c->tunnel()->target_connected());
    const std::string late(140000, 'l');
    c->send(late);
    ASSERT_TRUE(listener.wait_bytes(early.size() + late.size())) << listener.joined().size();
    EXPECT_EQ(listener.joined(), early + late);
    EXPECT_TRUE(errors_.get().empty());
}

class ProbeIntegration : public ::testing::Test {
protected:
    void run_probe(OperatorStackOptions options)
    {
        stack_ = std::make_unique<OperatorStack>(std::move(options));
        ASSERT_TRUE(stack_->start()) << stack_->error();
        probe_ = std::make_unique<ProbeResult>(
            stack_->config(), [] { return std::string("127.0.0.1"); }, sip_, pinger_);
        probe_->reset();
        probe_->run_ms(3000);
    }
    ServerList sip_{kServerSip, {"127.0.0.1", 5060}};
    std::unique_ptr<platform::Pinger> pinger_holder_ = platform::make_system_pinger();
    platform::Pinger& pinger_ = *pinger_holder_;
    std::unique_ptr<OperatorStack> stack_;
    std::unique_ptr<ProbeResult> probe_;
};

TEST_F(ProbeIntegration, ALiveEchoServiceAnswersUdpAndTcpInOnePass)
{
    const auto start = std::chrono::steady_clock::now();
    run_probe({});
    EXPECT_TRUE(probe_->udpWorks());
    EXPECT_TRUE(probe_->tcpWorks());
    EXPECT_EQ(probe_->passes_run(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500))
        << "the pass ends as soon as both echoes are back";
    EXPECT_FALSE(probe_->needsTunnel(false));
    EXPECT_FALSE(probe_->needsTunnel(true));
}

TEST_F(ProbeIntegration, WithDirectUdpBlockedTheTunnelCarriesUdp)
{
    std::string why;
    test::RestrictedNetwork net;
    if (!net.enter(&why))
        GTEST_SKIP() << why;
    stack_ = std::make_unique<OperatorStack>();
    ASSERT_TRUE(stack_->start()) << stack_->error();
    // The client's direct echo probes are dropped; the tunnel service's
    // relay, outside the filter, still reaches the echo service.
    ASSERT_TRUE(net.filter(
        "-p udp --dport " + std::to_string(stack_->config().echo_udp_port) + " -j DROP", &why))
        << why;
    ASSERT_TRUE(net.become_client());
    probe_ = std::make_unique<ProbeResult>(
        stack_->config(), [] { return std::string("127.0.0.1"); }, sip_, pinger_);
    probe_->reset();
    probe_->run_ms(3000);
    EXPECT_FALSE(probe_->udpWorks());
    EXPECT_TRUE(probe_->tcpWorks());
    EXPECT_EQ(probe_->passes_run(), 3);
    EXPECT_TRUE(probe_->httpsWorks());
    EXPECT_TRUE(probe_->connectWorks());
    EXPECT_TRUE(probe_->needsTunnel(false));
    EXPECT_FALSE(probe_->needsTunnel(true));
    EXPECT_FALSE(probe_->prefersConnect()) << "plain mode when it works";
}

// The echo gets out, but a network may still block one service's port.
TEST_F(ProbeIntegration, TwoRouteErrorsInARowSendAServiceThroughAWorkingTunnelUntilTheNextRun)
{
    run_probe({});
    probe_->directConnectResult(5222, true, 10061);
    probe_->directConnectResult(5222, true, 0); // a success starts the count again
    probe_->directConnectResult(5222, true, 10060);
    EXPECT_FALSE(probe_->tunnelsService(5222, true));
    probe_->directConnectResult(5222, true, 10061);
    EXPECT_TRUE(probe_->tunnelsService(5222, true));
    EXPECT_FALSE(probe_->tunnelsService(5060, true)) << "other services stay direct";
    EXPECT_FALSE(probe_->needsTunnel(true));
    probe_->reset();
    probe_->run_ms(3000);
    EXPECT_FALSE(probe_->tunnelsService(5222, true));
}

TEST_F(ProbeIntegration, WithTheTunnelDeadBlockedServicesStayDirect)
{
    OperatorStackOptions options;
    options.services = {"echo_udp", "echo_tcp"};
    run_probe(options);
    const auto start = std::chrono::steady_clock::now();
    probe_->directConnectResult(5222, true, 10061);
    probe_->directConnectResult(5222, true, 10061);
    EXPECT_FALSE(probe_->tunnelsService(5222, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "the check ends with its tests";
}

TEST_F(ProbeIntegration, WithoutAnyEchoNoTunnelIsUsed)
{
    OperatorStackOptions options;
    options.services = {"tunnel"};
    run_probe(options);
    EXPECT_FALSE(probe_->udpWorks());
    EXPECT_FALSE(probe_->tcpWorks());
    EXPECT_FALSE(probe_->httpsWorks());
    EXPECT_FALSE(probe_->needsTunnel(false)) << "nothing works: connections still try direct";
}

} // namespace
} // namespace vokar
