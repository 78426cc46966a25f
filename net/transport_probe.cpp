#include "net/transport_probe.h"

#include <cstdlib>

#include "base/random.h"
#include "platform/crt_rand.h"
#include "platform/socket.h"

namespace vokar {
namespace {

constexpr const char* kMutexNames[] = {"VOKAR_MUTEX_CONN_UDP", "VOKAR_MUTEX_CONN_UDP2",
                                       "VOKAR_MUTEX_CONN_TCP", "VOKAR_MUTEX_CONN_HTTPS",
                                       "VOKAR_MUTEX_CONN_HTTPS_CONNECT"};

uint16_t random_port(uint16_t base)
{
    seed_random_once();
    return static_cast<uint16_t>(platform::crt_rand() % 1000 + base);
}

// The reply as a zero-terminated text equals the echo.
bool is_echo(const std::string& reply)
{
    return reply.substr(0, reply.find('\0')) == ProbeResult::kEcho;
}

} // namespace

ProbeResult::ProbeResult(const platform::OperatorConfig& config,
                         std::function<std::string()> local_address, ServerList& sip_servers,
                         platform::Pinger& pinger, platform::Clock& clock)
    : config_(config), local_address_(std::move(local_address)), sip_servers_(sip_servers),
      pinger_(pinger), clock_(clock)
{
    for (int i = 0; i < kTestCount; ++i)
        test_mutexes_[i] = std::make_unique<platform::NamedMutex>(
            platform::NamedMutex::unique_name(kMutexNames[i]));
}

ProbeResult::~ProbeResult()
{
    running_ = false;
    close_test_sockets();
    for (auto& t : threads_)
        t.join();
}

void ProbeResult::reset()
{
    tcp_works_ = true;
    udp_works_ = true;
    https_works_ = false;
    connect_works_ = false;
}

bool ProbeResult::needsTunnel(bool use_tcp) const
{
    if (use_tcp ? tcp_works_.load() : udp_works_.load())
        return false;
    return https_works_ || connect_works_;
}

bool ProbeResult::tunnelsService(uint16_t port, bool use_tcp) const
{
    std::lock_guard lock(services_mutex_);
    return tunnelled_.count({port, use_tcp}) != 0 && (https_works_ || connect_works_);
}

bool ProbeResult::is_route_error(int error)
{
    switch (error) {
    case platform::kWsaEnetdown:
    case platform::kWsaEnetunreach:
    case platform::kWsaEtimedout:
    case platform::kWsaEconnrefused:
    case platform::kWsaEhostdown:
    case platform::kWsaEhostunreach:
        return true;
    default:
        return false;
    }
}

void ProbeResult::directConnectResult(uint16_t port, bool use_tcp, int error)
{
    const Service service{port, use_tcp};
    {
        std::lock_guard lock(services_mutex_);
        if (!is_route_error(error)) {
            direct_failures_.erase(service);
            return;
        }
        if (++direct_failures_[service] < kFailuresBeforeTunnelCheck)
            return;
        // Tested once per run of failures; two more failures test again.
        direct_failures_.erase(service);
    }
    if (!check_tunnel())
        return;
    std::lock_guard lock(services_mutex_);
    tunnelled_[service] = true;
}

bool ProbeResult::check_tunnel()
{
    std::unique_lock run(run_mutex_, std::try_to_lock);
    if (!run)
        return false;
    running_ = true;
    tunnel_checks_left_ = 2;
    for (Test test : {kHttps, kConnect})
        threads_[test] = platform::Thread([this, test] {
            run_test(test);
            --tunnel_checks_left_;
        });
    const uint32_t start = clock_.tick_count();
    while (!https_works_ && !connect_works_ && tunnel_checks_left_ > 0 && !cancelled_ &&
           clock_.tick_count() - start < kTunnelCheckMs)
        clock_.sleep_ms(100);
    running_ = false;
    close_test_sockets();
    for (auto& t : threads_)
        t.join();
    return https_works_ || connect_works_;
}

void ProbeResult::run_ms(uint32_t total_ms)
{
    std::lock_guard run(run_mutex_);
    {
        std::lock_guard lock(services_mutex_);
        direct_failures_.clear();
        tunnelled_.clear();
    }
    clock_.sleep_ms(200);
    tcp_works_ = udp_works_ = https_works_ = connect_works_ = false;
    passes_ = 0;
    for (int pass = 0; pass < 3 && !cancelled_; ++pass) {
        running_ = true;
        ++passes_;
        if (!tcp_works_) {
            threads_[kTcp] = platform::Thread([this] { run_test(kTcp); });
            clock_.sleep_ms(10);
        }
        if (!udp_works_) {
            threads_[kUdp] = platform::Thread([this] { run_test(kUdp); });
            clock_.sleep_ms(10);
            threads_[kUdpBurst] = platform::Thread([this] { run_test(kUdpBurst); });
            clock_.sleep_ms(10);
            // Where UDP does not get out, see whether the tunnel does.
            threads_[kHttps] = platform::Thread([this] { run_test(kHttps); });
            threads_[kConnect] = platform::Thread([this] { run_test(kConnect); });
        }
        window_ms_ = static_cast<int>(total_ms / 3);
        const uint32_t start = clock_.tick_count();
        while (running_ && !cancelled_ &&
               clock_.tick_count() - start < static_cast<uint32_t>(window_ms_)) {
            if (tcp_works_ && udp_works_) {
                running_ = false;
                break;
            }
            clock_.sleep_ms(100);
            std::lock_guard lock(slots_mutex_);
            if (!udp_works_ && udp_slot_)
                udp_slot_->send(kEcho, 9);
        }
        running_ = false;
        close_test_sockets();
        // Closing ended every blocked receive and connect: the tests finish now.
        for (auto& t : threads_)
            t.join();
        if (tcp_works_ && udp_works_)
            break;
    }
}

void ProbeResult::close_test_sockets()
{
    std::lock_guard lock(slots_mutex_);
    if (udp_slot_)
        udp_slot_->close();
    if (udp_burst_slot_)
        udp_burst_slot_->close();
    if (tcp_slot_)
        tcp_slot_->close();
    for (auto& t : tunnel_slots_)
        if (t)
            t->stop();
}

void ProbeResult::run_test(Test test)
{
    std::lock_guard hold(*test_mutexes_[test]);
    if (!running_)
        return;
    switch (test) {
    case kUdp:
    case kUdpBurst:
        echo_over_udp(test);
        break;
    case kTcp:
        echo_over_tcp();
        break;
    case kHttps:
    case kConnect:
        echo_over_tunnel(test);
        break;
    case kTestCount:
        break;
    }
}

void ProbeResult::echo_over_udp(Test test)
{
    auto socket = std::make_shared<UdpSocket>(random_port(10000), config_.echo_udp_port,
                                              local_address_(), nullptr);
    auto& slot = test == kUdp ? udp_slot_ : udp_burst_slot_;
    {
        std::lock_guard lock(slots_mutex_);
        if (!running_)
            return;
        slot = socket;
    }
    if (socket->open(config_.echo_host)) {
        const int sends = test == kUdpBurst ? 4 : 1;
        for (int i = 0; i < sends; ++i) {
            if (i > 0)
                clock_.sleep_ms(10);
            socket->send(kEcho, 9);
        }
        std::string reply;
        // An ICMP error or an empty datagram is no answer; keep listening
        // until the pass closes the socket.
        while (running_ && socket->is_open()) {
            if (socket->receive(&reply, 20) > 0) {
                if (is_echo(reply))
                    udp_works_ = true;
                break;
            }
        }
    }
    std::lock_guard lock(slots_mutex_);
    slot.reset();
}

void ProbeResult::echo_over_tcp()
{
    auto socket = std::make_shared<TcpSocket>(random_port(11000), config_.echo_tcp_port,
                                              local_address_(), nullptr);
    {
        std::lock_guard lock(slots_mutex_);
        if (!running_)
            return;
        tcp_slot_ = socket;
    }
    if (socket->connect(config_.echo_host) && socket->send(kEcho, 9)) {
        std::string reply;
        if (socket->receive(&reply, 500) >= 0 && is_echo(reply))
            tcp_works_ = true;
    }
    socket->close();
    std::lock_guard lock(slots_mutex_);
    tcp_slot_.reset();
}

void ProbeResult::echo_over_tunnel(Test test)
{
    const bool connect_mode = test == kConnect;
    auto tunnel = std::make_shared<TunnelConnection>(
        TunnelConnection::kRelayUdp, 0, config_.echo_udp_port, local_address_(), nullptr,
        connect_mode, TunnelServer{config_.tunnel_host, config_.tunnel_port}, clock_);
    auto& slot = tunnel_slots_[connect_mode ? 1 : 0];
    {
        std::lock_guard lock(slots_mutex_);
        if (!running_)
            return;
        slot = tunnel;
    }
    if (tunnel->connect(config_.echo_host)) {
        tunnel->send(kEcho, 9); // leaves once the server confirms the target
        std::string reply;
        if (tunnel->receive(&reply, ConnectionInterface::kChunkSize, false) > 0 && is_echo(reply))
            (connect_mode ? connect_works_ : https_works_) = true;
    }
    tunnel->stop();
    std::lock_guard lock(slots_mutex_);
    slot.reset();
}

int ProbeResult::rating_for(int average_ms, int spread_ms)
{
    const int column = spread_ms < 60 ? 0 : spread_ms < 120 ? 1 : 2;
    static constexpr int kTable[3][3] = {{4, 3, 1}, {3, 2, 1}, {2, 1, 1}};
    const int row = average_ms < 400 ? 0 : average_ms < 600 ? 1 : 2;
    return kTable[row][column];
}

int ProbeResult::rateLink()
{
    const uint32_t address = platform::resolve_host(sip_servers_.current_host());
    if (address == platform::kAddressNone)
        return -1;
    int samples[5];
    for (int& sample : samples) {
        if (cancelled_)
            return -1;
        std::string payload(64, '\0');
        for (char& c : payload)
            c = static_cast<char>(platform::crt_rand() & 0xFF);
        const auto reply = pinger_.echo(address, payload, 2000);
        sample = reply.replied ? static_cast<int>(reply.round_trip_ms) : 5000;
    }
    const int average = (samples[0] + samples[1] + samples[2] + samples[3] + samples[4]) / 5;
    const int spread = std::abs(samples[4] - samples[3]) / 4;
    return rating_for(average, spread);
}

} // namespace vokar
