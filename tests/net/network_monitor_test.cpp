#include "net/network_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/messages.h"
#include "platform/datagram_socket.h"
#include "platform/socket.h"

namespace vokar {
namespace {

using platform::Adapter;

class ScriptedAdapters : public platform::AdapterSource {
public:
    explicit ScriptedAdapters(std::vector<Adapter>& list) : list_(list) {}
    std::vector<Adapter> adapters() override { return list_; }

private:
    std::vector<Adapter>& list_;
};

class ScriptedProbe : public TransportProbe {
public:
    explicit ScriptedProbe(std::vector<std::string>& log) : log_(log) {}
    void reset() override { log_.push_back("reset"); }
    void run(int timeout_s) override { log_.push_back("run " + std::to_string(timeout_s)); }
    int rateLink() override
    {
        log_.push_back("rate");
        return 3;
    }
    bool needsTunnel(bool) const override { return false; }
    bool prefersConnect() const override { return true; }

private:
    std::vector<std::string>& log_;
};

class Login : public LoginState {
public:
    bool sipLoggedIn() const override { return logged_in; }
    bool sipLoggedInOrLoggingIn() const override { return logged_in || logging_in; }
    bool logged_in = false, logging_in = false;
};

Adapter adapter(std::string name, std::string ip, bool hw = true, bool wireless = false)
{
    Adapter a;
    a.name = std::move(name);
    a.ipv4 = std::move(ip);
    a.has_hardware_address = hw;
    a.wireless = wireless;
    return a;
}

class NetworkMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = pump_.create_window([this](const platform::Message& m) -> intptr_t {
            log_.push_back(std::to_string(m.code));
            return 0;
        });
        make(platform::OperatorConfig{});
    }
    void make(const platform::OperatorConfig& config)
    {
        testling_ = std::make_unique<NetworkMonitor>(
            config, std::make_unique<ScriptedAdapters>(adapters_), probe_, clock_);
        testling_->set_login_state(&login_);
        testling_->add_window(window_);
    }
    std::vector<std::string> take_log()
    {
        auto out = log_;
        log_.clear();
        return out;
    }

    std::vector<Adapter> adapters_;
    std::vector<std::string> log_;
    ScriptedProbe probe_{log_};
    Login login_;
    platform::ManualClock clock_;
    platform::MessagePump pump_; // this thread is the GUI thread: sends run at once
    platform::Window window_;
    std::unique_ptr<NetworkMonitor> testling_;
};

const std::vector<std::string> kChangeWhileLoggedIn = {"reset", "run 30", "2041",
                                                       "2025",  "rate",   "2038"};
const std::vector<std::string> kChange = {"reset", "run 30", "2025", "rate", "2038"};

TEST_F(NetworkMonitorTest, WifiIsPreferredWhereverItIsListed)
{
    struct Case {
        const char* name;
        std::vector<Adapter> adapters;
        std::string chosen;
    } cases[] = {
        {"WiFi first",
         {adapter("TNETWLN1", "10.0.0.2"), adapter("cell0", "10.64.0.9")},
         "TNETWLN1"},
        {"WiFi second replaces data and ends the walk",
         {adapter("cell0", "10.64.0.9"), adapter("TIACX100", "10.0.0.3"),
          adapter("eth9", "10.9.9.9")},
         "TIACX100"},
        {"an adapter Linux reports as wireless",
         {adapter("cell0", "10.64.0.9"), adapter("wlp2s0", "10.0.0.4", true, true)},
         "wlp2s0"},
        {"the last data adapter with an address wins",
         {adapter("eth0", "10.1.0.1"), adapter("eth1", "0.0.0.0"), adapter("eth2", "10.2.0.1")},
         "eth2"},
        {"no hardware address, no bearer",
         {adapter("lo", "127.0.0.1", false), adapter("eth0", "10.1.0.1")},
         "eth0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        adapters_ = c.adapters;
        make(platform::OperatorConfig{});
        login_.logged_in = true;
        testling_->run_pass();
        EXPECT_EQ(take_log(), kChangeWhileLoggedIn);
        EXPECT_EQ(testling_->adapter_name(), c.chosen);
        EXPECT_TRUE(testling_->connected());
        const bool wifi = c.chosen != "eth0" && c.chosen != "eth2";
        EXPECT_EQ(testling_->bearer_label(), wifi ? L"WiFi" : L"Data Connection");
        EXPECT_EQ(testling_->link_rating(), 3);
        testling_->run_pass();
        EXPECT_TRUE(take_log().empty()) << "no change, no announcement";
    }
}

// The login screen says the network is being checked while the probe runs.
TEST_F(NetworkMonitorTest, TheProbeObserverHearsOfEveryProbeAroundIt)
{
    struct Observer : ProbeObserver {
        explicit Observer(std::vector<std::string>& log) : log(log) {}
        void probing(bool running) override { log.push_back(running ? "probing" : "probed"); }
        std::vector<std::string>& log;
    } observer(log_);
    testling_->set_probe_observer(&observer);
    adapters_ = {adapter("TNETWLN1", "10.0.0.2")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), (std::vector<std::string>{"reset", "probing", "run 30", "probed", "2025",
                                                    "rate", "2038"}));
}

TEST_F(NetworkMonitorTest, SwitchingBearersAndLosingThem)
{
    adapters_ = {adapter("TNETWLN1", "10.0.0.2")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), kChange);

    login_.logged_in = true;
    adapters_ = {adapter("cell0", "10.64.0.9")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), kChangeWhileLoggedIn);
    EXPECT_EQ(testling_->bearer_label(), L"Data Connection");
    EXPECT_EQ(testling_->local_address(), "10.64.0.9");

    adapters_ = {adapter("cell0", "0.0.0.0")};
    testling_->run_pass();
    EXPECT_EQ(take_log(),
              (std::vector<std::string>{"reset", "run 30", "2042", "2025", "rate", "2038"}));
    EXPECT_FALSE(testling_->connected());
    EXPECT_EQ(testling_->bearer_label(), L"N/A");

    // The bearer returns: the login lost with it is redone exactly once.
    login_.logged_in = false;
    adapters_ = {adapter("cell0", "10.64.0.10")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), kChangeWhileLoggedIn);
    adapters_ = {adapter("cell0", "10.64.0.11")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), kChange);
}

TEST_F(NetworkMonitorTest, ADockedPhoneShowsActiveSyncAndIsNotConnected)
{
    adapters_ = {adapter("RNDISFN1", "169.254.2.1")};
    testling_->run_pass();
    EXPECT_EQ(take_log(), std::vector<std::string>{"2025"});
    EXPECT_FALSE(testling_->connected());
    EXPECT_EQ(testling_->bearer_label(), L"ActiveSync");
    EXPECT_EQ(testling_->local_address(), "");
    testling_->run_pass();
    EXPECT_TRUE(take_log().empty());
}

TEST_F(NetworkMonitorTest, TheConfiguredAdapterIsUsedEvenWhenItIsLoopback)
{
    platform::OperatorConfig config;
    config.adapter = "lo";
    make(config);
    adapters_ = {adapter("eth0", "10.1.0.1"), adapter("lo", "127.0.0.1", false)};
    testling_->run_pass();
    EXPECT_EQ(take_log(), kChange);
    EXPECT_EQ(testling_->local_address(), "127.0.0.1");
    EXPECT_TRUE(testling_->connected());
}

TEST(NetworkMonitorNames, WifiAndActiveSyncRules)
{
    for (const char* wifi : {"TIACX111", "TNETWLN1", "XTNETW", "BCMWLN", "MYWIFI0"})
        EXPECT_TRUE(NetworkMonitor::is_wifi_name(wifi)) << wifi;
    for (const char* other : {"wifi", "TIAC", "eth0", "RNDISFN1", ""})
        EXPECT_FALSE(NetworkMonitor::is_wifi_name(other)) << other;
    EXPECT_TRUE(NetworkMonitor::is_activesync_name("RNDISFN1"));
    EXPECT_TRUE(NetworkMonitor::is_activesync_name("ected"));
    EXPECT_FALSE(NetworkMonitor::is_activesync_name("RNDISFN2"));
}

class ScriptedPinger : public platform::Pinger {
public:
    std::vector<int> samples; // -1: no reply
    size_t next = 0;
    platform::IcmpReply echo(uint32_t, const std::string& payload, uint32_t timeout_ms) override
    {
        EXPECT_EQ(payload.size(), 64u);
        EXPECT_EQ(timeout_ms, 2000u);
        platform::IcmpReply r;
        const int s = samples.at(next++);
        r.replied = s >= 0;
        r.round_trip_ms = static_cast<uint32_t>(s);
        return r;
    }
};

TEST(LinkRating, TableAndSamples)
{
    struct Case {
        std::vector<int> samples;
        int rating;
    } cases[] = {
        {{-1, -1, -1, -1, -1}, 2}, // five lost: average 5000, spread 0
        {{50, 60, 40, 50, 50}, 4},      {{50, 60, 40, 50, 330}, 3}, // spread (330 - 50) / 4 = 70
        {{50, 60, 40, 50, 600}, 1},                                 // spread 137
        {{450, 450, 450, 450, 450}, 3}, {{450, 450, 450, 200, 700}, 1}, // spread 125
        {{700, 700, 700, 700, 500}, 2},                                 // average 660, spread 50
    };
    platform::ManualClock clock;
    ServerList sip(kServerSip, {"127.0.0.1", 5060});
    for (const auto& c : cases) {
        ScriptedPinger pinger;
        pinger.samples = c.samples;
        ProbeResult probe(
            platform::OperatorConfig{}, [] { return std::string("127.0.0.1"); }, sip, pinger,
            clock);
        EXPECT_EQ(probe.rateLink(), c.rating);
    }
    ServerList nowhere(kServerSip, {"no-such-host.invalid", 5060});
    ScriptedPinger unused;
    ProbeResult probe(
        platform::OperatorConfig{}, [] { return std::string(); }, nowhere, unused, clock);
    EXPECT_EQ(probe.rateLink(), -1);

    const int table[3][3] = {{4, 3, 1}, {3, 2, 1}, {2, 1, 1}};
    const int averages[] = {0, 399, 400, 599, 600, 5000};
    const int spreads[] = {0, 59, 60, 119, 120, 1000};
    for (int a : averages)
        for (int s : spreads)
            EXPECT_EQ(ProbeResult::rating_for(a, s), table[a < 400   ? 0
                                                           : a < 600 ? 1
                                                                     : 2][s < 60    ? 0
                                                                          : s < 120 ? 1
                                                                                    : 2]);
}

TEST(ProbeResultFlags, NeedsTunnelOnlyWhenTheDirectTransportFailsAndATunnelWorks)
{
    platform::ManualClock clock;
    ServerList sip(kServerSip, {"127.0.0.1", 5060});
    ScriptedPinger pinger;
    ProbeResult probe(
        platform::OperatorConfig{}, [] { return std::string(); }, sip, pinger, clock);
    probe.reset();
    EXPECT_FALSE(probe.needsTunnel(false));
    EXPECT_FALSE(probe.needsTunnel(true));
    EXPECT_TRUE(probe.prefersConnect());
}

// The echo service is a UDP socket that never answers, so the probe would
// run its three 10 s passes; stopping the monitor cuts it short.
TEST(NetworkMonitorStop, StopEndsAProbeUnderWayAtOnce)
{
    platform::DatagramSocket silent;
    ASSERT_EQ(silent.open(platform::parse_ipv4("127.0.0.1"), 0), platform::kWsaOk);
    platform::OperatorConfig config;
    config.adapter = "lo";
    config.echo_host = "127.0.0.1";
    config.echo_udp_port = silent.local_port();
    config.echo_tcp_port = 1; // refused
    config.tunnel_host = "127.0.0.1";
    config.tunnel_port = 1;
    ServerList sip(kServerSip, {"127.0.0.1", 5060});
    ScriptedPinger pinger;
    pinger.samples.assign(10, 1); // a rating after the probe stays quick
    ProbeResult probe(
        config, [] { return std::string("127.0.0.1"); }, sip, pinger);
    std::vector<Adapter> adapters = {adapter("lo", "127.0.0.1", false)};

    class Started : public ProbeObserver {
    public:
        void probing(bool running) override
        {
            std::lock_guard lock(mutex);
            started = started || running;
            changed.notify_all();
        }
        std::mutex mutex;
        std::condition_variable changed;
        bool started = false;
    } observer;
    NetworkMonitor monitor(config, std::make_unique<ScriptedAdapters>(adapters), probe);
    monitor.set_probe_observer(&observer);
    monitor.start();
    {
        std::unique_lock lock(observer.mutex);
        ASSERT_TRUE(observer.changed.wait_for(lock, std::chrono::seconds(5),
                                              [&] { return observer.started; }));
    }
    const auto before = std::chrono::steady_clock::now();
    monitor.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_FALSE(probe.udpWorks());
}

} // namespace
} // namespace vokar
