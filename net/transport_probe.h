#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

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
};

// Finds out which transports reach the operator: "Echo this" to the echo
// service over UDP (once and as a burst of four), over TCP, and through the
// tunnel in each of its modes; and rates the link by pinging the SIP server.
class ProbeResult final : public TransportProbe {
public:
    static constexpr const char* kEcho = "Echo this";

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

    bool needsTunnel(bool use_tcp) const override;
    bool prefersConnect() const override { return !https_works_; }

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
    std::atomic<int> passes_{0};

    // The sockets of the tests in progress. Each test thread owns and frees
    // its socket; the pass only closes them, under this lock.
    std::mutex slots_mutex_;
    std::shared_ptr<UdpSocket> udp_slot_, udp_burst_slot_;
    std::shared_ptr<TcpSocket> tcp_slot_;
    std::shared_ptr<TunnelConnection> tunnel_slots_[2];

    std::unique_ptr<platform::NamedMutex> test_mutexes_[kTestCount];
    platform::Thread threads_[kTestCount];
};

} // namespace vokar
