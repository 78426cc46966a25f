// Round-trip time of a 200-byte message through the operator's echo service
// on loopback: over a direct UDP connection and through the tunnel.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "net/connection_interface.h"
#include "tests/support/operator_stack.h"

namespace {

class Waiter : public vokar::ConnectionListener {
public:
    void onReceive(const std::string&) override
    {
        std::lock_guard lock(mutex_);
        ++received_;
        cv_.notify_one();
    }
    void onConnectResult(int) override {}
    bool wait_for(long count)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return received_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long received_ = 0;
};

class Policy : public vokar::TransportPolicy {
public:
    explicit Policy(bool tunnel) : tunnel_(tunnel) {}
    bool needsTunnel(bool) const override { return tunnel_; }
    bool prefersConnect() const override { return false; }

private:
    bool tunnel_;
};

vokar::test::OperatorStack* g_stack = nullptr;

void round_trip(benchmark::State& state, bool tunnel)
{
    const auto& conf = g_stack->config();
    Policy policy(tunnel);
    Waiter waiter;
    vokar::ConnectionInterface c("127.0.0.1", false, true, nullptr, &policy,
                                 vokar::TunnelServer{conf.tunnel_host, conf.tunnel_port});
    c.setListener(&waiter);
    c.open(0, conf.echo_udp_port, conf.echo_host, true);
    const std::string message(200, 'm');
    long sent = 0;
    // Warm up: the tunnel's target is confirmed on the first round trip.
    c.send(message);
    if (!waiter.wait_for(++sent)) {
        state.SkipWithError("no echo");
        return;
    }
    for (auto _ : state) {
        c.send(message);
        if (!waiter.wait_for(++sent)) {
            state.SkipWithError("echo lost");
            break;
        }
    }
    state.counters["round_trips/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    c.close();
}

void BM_UdpRoundTripDirect(benchmark::State& state)
{
    round_trip(state, false);
}
void BM_UdpRoundTripTunnel(benchmark::State& state)
{
    round_trip(state, true);
}

} // namespace

BENCHMARK(BM_UdpRoundTripDirect)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UdpRoundTripTunnel)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    vokar::test::OperatorStack stack;
    if (!stack.start()) {
        std::fprintf(stderr, "cannot start vokar-operatord: %s\n", stack.error().c_str());
        return 1;
    }
    g_stack = &stack;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
