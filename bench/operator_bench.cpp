// vokar-operatord under load: web requests per second and tunnel round trips
// per second with 500 connections open at once, and the daemon's resident
// memory before, at the peak and after they have gone (counters in KiB).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/tunnel_frames.h"
#include "tests/support/operator_stack.h"

namespace {

constexpr int kConnections = 500;
constexpr std::string_view kOk = "HTTP/1.1 200 Connection established\r\n\r\n";

vokar::test::OperatorStack* g_stack = nullptr;

long resident_kib()
{
    std::ifstream status("/proc/" + std::to_string(g_stack->pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

class Socket {
public:
    explicit Socket(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool send(std::string_view bytes) const
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool receive(size_t count, std::string* out) const
    {
        out->resize(count);
        for (size_t got = 0; got < count;) {
            const ssize_t n = ::recv(fd_, out->data() + got, count - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    // Everything until the peer closes.
    bool receive_all(std::string* out) const
    {
        out->clear();
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return false;
            out->append(buffer, static_cast<size_t>(n));
        }
    }
    bool receive_frame(vokar::TunnelFrame* frame) const
    {
        std::string header;
        if (!receive(vokar::kTunnelFrameHeader, &header))
            return false;
        const auto length = vokar::tunnel_frame_length(header);
        if (!length || *length == 0)
            return false;
        frame->type = static_cast<uint8_t>(header[4]);
        return receive(*length - vokar::kTunnelFrameHeader, &frame->payload);
    }

private:
    int fd_;
};

struct Memory {
    long before = 0;
    long peak = 0;
};

void report(benchmark::State& state, const Memory& memory, double per_iteration)
{
    // The connections are gone; the daemon returns their memory shortly.
    long after = resident_kib();
    for (int i = 0; i < 50 && after > memory.before + 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        after = resident_kib();
    }
    state.counters["per_second"] = benchmark::Counter(
        per_iteration * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["rss_before_kib"] = static_cast<double>(memory.before);
    state.counters["rss_peak_kib"] = static_cast<double>(memory.peak);
    state.counters["rss_after_kib"] = static_cast<double>(after);
}

// Each iteration: 500 clients connect at once, each asks for the server
// list, and each reads its answer to the close.
void BM_WebRequests500(benchmark::State& state)
{
    const uint16_t port = g_stack->config().web_port;
    const std::string request =
        "GET /accounts/moservers.php?username=27821234567 HTTP/1.1\r\nHost: www.vokar.test\r\n"
        "Cookie: .\r\n\r\n";
    Memory memory{resident_kib(), 0};
    std::string answer;
    for (auto _ : state) {
        std::vector<Socket> clients;
        clients.reserve(kConnections);
        for (int i = 0; i < kConnections; ++i) {
            clients.emplace_back(port);
            if (!clients.back().ok() || !clients.back().send(request)) {
                state.SkipWithError("a web client was refused");
                return;
            }
        }
        for (const auto& client : clients) {
            if (!client.receive_all(&answer) || !answer.starts_with("HTTP/1.1 200 OK")) {
                state.SkipWithError("a web request was not answered");
                return;
            }
        }
        memory.peak = std::max(memory.peak, resident_kib());
    }
    report(state, memory, kConnections);
}

// 500 tunnels with a TCP relay to the echo (UDP would lose datagrams in
// bursts of 500); each iteration sends 200 bytes through every tunnel and
// reads every echo.
void BM_TunnelRoundTrips500(benchmark::State& state)
{
    const auto& config = g_stack->config();
    const std::string request =
        "CONNECT 127.0.0.1:" + std::to_string(config.tunnel_port) + " HTTP/1.1\r\n\r\n";
    const std::string open =
        vokar::encode_tunnel_frame(1, "2\n127.0.0.1\n" + std::to_string(config.echo_tcp_port));
    const std::string data = vokar::encode_tunnel_frame(2, std::string(200, 'd'));
    Memory memory{resident_kib(), 0};
    {
        std::vector<Socket> tunnels;
        tunnels.reserve(kConnections);
        std::string ok;
        vokar::TunnelFrame frame;
        for (int i = 0; i < kConnections; ++i) {
            tunnels.emplace_back(config.tunnel_port);
            const auto& t = tunnels.back();
            if (!t.ok() || !t.send(request + request) || !t.receive(kOk.size(), &ok) || ok != kOk ||
                !t.send(open) || !t.receive_frame(&frame) || frame.type != 1) {
                state.SkipWithError("a tunnel was refused");
                return;
            }
        }
        for (auto _ : state) {
            for (const auto& t : tunnels)
                t.send(data);
            for (const auto& t : tunnels) {
                for (size_t echoed = 0; echoed < 200; echoed += frame.payload.size()) {
                    if (!t.receive_frame(&frame) || frame.type != 0) {
                        state.SkipWithError("an echo was lost");
                        return;
                    }
                }
            }
            memory.peak = std::max(memory.peak, resident_kib());
        }
    }
    report(state, memory, kConnections);
}

} // namespace

BENCHMARK(BM_WebRequests500)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TunnelRoundTrips500)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    vokar::test::OperatorStackOptions options;
    options.services = {"echo_udp", "echo_tcp", "tunnel", "web"};
    // Every client comes from 127.0.0.1.
    options.extra_config["max_connections_per_source"] = "2000";
    vokar::test::OperatorStack stack(options);
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
