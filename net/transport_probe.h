#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "account/server_list.h"
#include "net/connection_interface.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/operator_config.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace vokar {

// What the bearer monitor needs of the transport probe; tests script it.
class TransportProbe : public TransportPolicy {
public:
    // Assume direct TCP and UDP work and no tunnel does.
    virtual void reset() = 0;
    // The echo probe: up to three passes sharing timeout_s seconds.
    virtual void run(int timeout_s) = 0;
    // 1 (worst) to 4 (best), or -1 when the SIP server cannot be resolved.
    virtual int rateLink() = 0;
    // Shutdown: a run under way ends within a moment, and later runs and
    // ratings return at once until allow_runs().
    virtual void cancel_runs() {}
    virtual void allow_runs() {}
};

// Finds out which transports reach the operator: "Echo this" to the echo
// service over UDP (once and as a burst of four), over TCP, and through the
// tunnel in each of its modes; and rates the link by pinging the SIP server.
//
// The echo only shows that the echo port gets out. A network may still block
// one service's port: after kFailuresBeforeTunnelCheck consecutive direct
// connects to a service (its port and transport) that fail with a route
// error (refused, timed out, unreachable), the tunnel is tested once more;
// when it works, that service goes through it until the next probe run.
class ProbeResult final : public TransportProbe {
public:
    static constexpr const char* kEcho = "Echo this";
    static constexpr int kFailuresBeforeTunnelCheck = 2;
    // How long the tunnel check after direct failures waits for an echo.
    static constexpr uint32_t kTunnelCheckMs = 10000;

    // `local_address` gives the address the UDP tests bind to; `sip_servers`
    // is the list whose current host the link rating pings.
    ProbeResult(const platform::OperatorConfig& config, std::function<std::string()> local_address,
                ServerList& sip_servers, platform::Pinger& pinger,
                platform::Clock& clock = platform::system_clock());
    ~ProbeResult() override;
    ProbeResult(const ProbeResult&) = delete;
    ProbeResult& operator=(const ProbeResult&) = delete;

    void reset() override;
    void run(int timeout_s) override { run_ms(static_cast<uint32_t>(timeout_s) * 1000); }
    // The probe with its total time in milliseconds (each pass gets a third).
    void run_ms(uint32_t total_ms);
    int rateLink() override;
    void cancel_runs() override { cancelled_ = true; }
    void allow_runs() override { cancelled_ = false; }

    bool needsTunnel(bool use_tcp) const override;
    bool prefersConnect() const override { return !https_works_; }
    bool tunnelsService(uint16_t port, bool use_tcp) const override;
    // Counts route errors per service and, at the second in a row, tests the
    // tunnel (on the caller's thread, up to kTunnelCheckMs). A check is
    // skipped while a probe run is under way: that run decides.
    void directConnectResult(uint16_t port, bool use_tcp, int error) override;

    bool tcpWorks() const { return tcp_works_; }
    bool udpWorks() const { return udp_works_; }
    bool httpsWorks() const { return https_works_; }
    bool connectWorks() const { return connect_works_; }
    int window_ms() const { return window_ms_; }
    int passes_run() const { return passes_; }

    // The rating table: average and spread of the round-trip times.
    static int rating_for(int average_ms, int spread_ms);

private:
    enum Test { kUdp, kUdpBurst, kTcp, kHttps, kConnect, kTestCount };
    void run_test(Test test);
    void echo_over_udp(Test test);
    void echo_over_tcp();
    void echo_over_tunnel(Test test);
    void close_test_sockets();
    // Runs the two tunnel tests; true when either mode works.
    bool check_tunnel();
    static bool is_route_error(int error);

    const platform::OperatorConfig config_;
    std::function<std::string()> local_address_;
    ServerList& sip_servers_;
    platform::Pinger& pinger_;
    platform::Clock& clock_;

    std::atomic<int> window_ms_{5000};
    std::atomic<bool> tcp_works_{false};
    std::atomic<bool> udp_works_{false};
    std::atomic<bool> https_works_{false};
    std::atomic<bool> connect_works_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false}; // the waits of runs, checks and ratings end
    std::atomic<int> passes_{0};
    std::atomic<int> tunnel_checks_left_{0}; // tunnel tests of a check still running

    // The sockets of the tests in progress. Each test thread owns and frees
    // its socket; the pass only closes them, under this lock.
    std::mutex slots_mutex_;
    std::shared_ptr<UdpSocket> udp_slot_, udp_burst_slot_;
    std::shared_ptr<TcpSocket> tcp_slot_;
    std::shared_ptr<TunnelConnection> tunnel_slots_[2];

    std::unique_ptr<platform::NamedMutex> test_mutexes_[kTestCount];
    platform::Thread threads_[kTestCount];

    // One probe run or tunnel check at a time (they share the test threads).
    std::mutex run_mutex_;
    using Service = std::pair<uint16_t, bool>; // port, TCP
    mutable std::mutex services_mutex_;
    std::map<Service, int> direct_failures_; // consecutive route errors
    std::map<Service, bool> tunnelled_;      // found blocked, the tunnel works
};

} // namespace vokar
