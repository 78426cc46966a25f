#include "tools/operator/services/tunnel_service.h"

#include "tools/operator/services/bound_udp_socket.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "tools/operator/loop/connection_set.h"
#include "tools/operator/loop/resolver.h"
#include "tools/operator/loop/socket_util.h"
#include "tools/operator/loop/tcp_listener.h"
#include "tools/operator/loop/tcp_stream.h"
#include "tools/operator/services/tunnel_protocol.h"
#include "tools/operator/services/tunnel_targets.h"

namespace vokar::operatord {
namespace {

using namespace std::chrono_literals;

// A TCP target that neither accepts nor refuses by then counts as unreachable.
constexpr auto kConnectTimeout = 10s;
// Largest payload of a data frame cut from a TCP target's stream; clients
// read frames into buffers of about 3000 bytes.
constexpr size_t kStreamChunk = 2048;
// Output waiting for a TCP target, and data for a target still being looked
// up, beyond which the client is not read. The client's own output may hold
// a whole frame more than the default limit.
constexpr size_t kTargetOutputLimit = 32 * 1024;
constexpr size_t kMaxChannels = tunnel::kLastChannel - tunnel::kFirstChannel + 1;
// Names a client may have looked up at once (its target and channels);
// further named channels get no destination.
constexpr int kMaxLookupsPerClient = 4;

bool same_ip(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

bool same_endpoint(const sockaddr_in& a, const sockaddr_in& b)
{
    return same_ip(a, b) && a.sin_port == b.sin_port;
}

class TunnelService final : public Service {
public:
    TunnelService(EventLoop& loop, const platform::OperatorConfig& config, const Limits& limits,
                  BufferBudget& budget)
        : loop_(loop), config_(config), limits_(limits), budget_(budget), host_(config.tunnel_host),
          port_(config.tunnel_port), resolver_(loop),
          listener_(loop, [this](int fd) { accept(fd); }),
          connections_(loop, limits.max_connections, limits.max_per_source)
    {
    }

    bool start(std::string* error) override
    {
        const auto address = configured_address("tunnel_host", host_, port_, error);
        if (!address)
            return false;
        relay_ip_ = address->sin_addr;
        targets_ = TunnelTargets::from_config(config_, error);
        if (!targets_ || !listener_.listen(*address, error))
            return false;
        targets_->set_listener(listener_.address());
        return true;
    }

    std::string endpoint() const override { return format_address(listener_.address()); }

private:
    class Connection;

    void accept(int fd);

    EventLoop& loop_;
    const platform::OperatorConfig& config_;
    const Limits& limits_;
    BufferBudget& budget_;
    std::string host_;
    uint16_t port_;
    in_addr relay_ip_{};
    std::optional<TunnelTargets> targets_;
    Resolver resolver_;
    TcpListener listener_;
    ConnectionSet<Connection> connections_;
};

// One client of the tunnel: its TCP connection, and once it has sent the
// open frame, the target (a TCP connection, or a UDP relay socket that also
// carries the announced channels).
class TunnelService::Connection final : public TcpStream::Owner {
public:
    Connection(TunnelService& service, int fd)
        : service_(service), loop_(service.loop_),
          client_(service.loop_, *this, fd, false, TcpStream::kDefaultOutputLimit,
                  &service.budget_),
          input_charge_(&service.budget_)
    {
    }

    ~Connection() { release(); }

    bool start()
    {
        if (!client_.start())
            return false;
        timer_ = loop_.add_timer(service_.limits_.request_timeout, [this] {
            timer_ = 0;
            end();
        });
        return true;
    }

    void on_data(TcpStream& stream, std::string_view bytes) override
    {
        if (&stream == &client_) {
            reader_.append(bytes);
            process_client_input();
            return;
        }
        while (!bytes.empty() && !ended_) {
            const size_t n = std::min(bytes.size(), kStreamChunk);
            send_frame(tunnel::kData, bytes.substr(0, n));
            bytes.remove_prefix(n);
        }
        update_flow();
    }

    void on_eof(TcpStream& stream) override
    {
        if (&stream == &client_) {
            // The client is done sending: what it sent goes to the target
            // first, then the target sees the end; its answers still come
            // back until it closes. A target still being looked up gets the
            // same once it is open.
            if (target_stream_)
                target_stream_->shut_output();
            else if (target_lookup_)
                client_done_ = true;
            else
                end();
            return;
        }
        // The target is done: pass on what it sent, then close the client.
        finish_client();
    }

    void on_closed(TcpStream& stream) override
    {
        // A target that fails (a reset after its answer) still has what it
        // sent delivered before the client is closed.
        if (&stream != &client_ && !finishing_)
            finish_client();
        else
            end();
    }

    void on_drained(TcpStream&) override { update_flow(); }

    void on_connected(TcpStream& stream) override
    {
        cancel_timer();
        set_no_delay(stream.fd());
        target_ready_ = true;
        send_frame(tunnel::kConnected, {});
    }

private:
    struct Channel {
        std::optional<sockaddr_in> address;
        Resolver::RequestId lookup = 0;
    };

    void process_client_input()
    {
        for (;;) {
            const auto item = reader_.next();
            switch (item.kind) {
            case tunnel::StreamReader::Kind::kNeedMore:
                reader_.release();
                update_flow();
                return;
            case tunnel::StreamReader::Kind::kRequest:
                // The client sends its request twice; only the first is answered.
                if (!answered_) {
                    answered_ = true;
                    cancel_timer();
                    // The client's side carries every byte of the relay in
                    // one direction or the other, so its idleness is the
                    // tunnel's.
                    client_.set_idle_limit(service_.limits_.idle_timeout);
                    client_.write(tunnel::kOkResponse);
                }
                break;
            case tunnel::StreamReader::Kind::kFrame:
                handle_frame(item.type, item.payload);
                if (ended_ || finishing_)
                    return;
                break;
            case tunnel::StreamReader::Kind::kBadMethod:
                client_.write(tunnel::kBadMethodResponse);
                finish_client();
                return;
            case tunnel::StreamReader::Kind::kRequestTooLong:
            case tunnel::StreamReader::Kind::kBadFrameLength:
                end();
                return;
            }
        }
    }

    void handle_frame(uint8_t type, std::string_view payload)
    {
        if (type == tunnel::kOpen) {
            if (opened_)
                return;
            auto request = tunnel::parse_open(payload);
            if (!request) {
                end();
                return;
            }
            open(std::move(*request));
        } else if (type == tunnel::kClientData) {
            send_to_target(payload);
        } else if (type == tunnel::kAnnounce) {
            announce(payload);
        } else if (type >= tunnel::kFirstChannel && type <= tunnel::kLastChannel) {
            send_to_channel(type, payload);
        }
        // Other types carry nothing for the server.
    }

    void open(tunnel::OpenRequest request)
    {
        opened_ = true;
        kind_ = request.kind;
        target_port_ = request.target.port;
        // A numeric address is used at once, so data frames that follow in
        // the same read already find the target.
        if (const auto ip = parse_ipv4(request.target.host)) {
            on_target_resolved(ip);
            return;
        }
        ++lookups_;
        target_lookup_ =
            service_.resolver_.resolve(request.target.host, [this](std::optional<in_addr> ip) {
                target_lookup_ = 0;
                --lookups_;
                on_target_resolved(ip);
            });
    }

    void on_target_resolved(std::optional<in_addr> ip)
    {
        if (!ip || !service_.targets_->allows(make_address(*ip, target_port_))) {
            end();
            return;
        }
        target_ = make_address(*ip, target_port_);
        if (kind_ == tunnel::RelayKind::kUdp)
            open_udp_target();
        else
            open_tcp_target();
        if (ended_)
            return;
        if (client_done_ && target_stream_)
            target_stream_->shut_output();
        else if (client_done_)
            finish_client();
        else
            update_flow();
    }

    void open_udp_target()
    {
        if (!ensure_udp_socket()) {
            end();
            return;
        }
        target_ready_ = true;
        const auto bound = local_address(udp_fd_);
        send_frame(tunnel::kRelayPort, std::to_string(bound ? ntohs(bound->sin_port) : 0));
        for (const auto& datagram : waiting_)
            send_datagram(datagram, *target_);
        waiting_.clear();
        waiting_bytes_ = 0;
    }

    void open_tcp_target()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            end();
            return;
        }
        const auto& target = *target_;
        const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (result != 0 && errno != EINPROGRESS) {
            ::close(fd);
            end();
            return;
        }
        target_stream_ = std::make_unique<TcpStream>(loop_, *this, fd, true, kTargetOutputLimit,
                                                     &service_.budget_);
        if (!target_stream_->start()) {
            end();
            return;
        }
        for (const auto& bytes : waiting_)
            target_stream_->write(bytes);
        waiting_.clear();
        waiting_bytes_ = 0;
        timer_ = loop_.add_timer(kConnectTimeout, [this] {
            timer_ = 0;
            end();
        });
    }

    void send_to_target(std::string_view payload)
    {
        if (!opened_)
            return;
        if (target_stream_) {
            target_stream_->write(payload);
        } else if (target_ready_) {
            send_datagram(payload, *target_);
        } else {
            // Still resolving the target's name: keep it (update_flow stops
            // reading the client when this grows).
            waiting_.emplace_back(payload);
            waiting_bytes_ += payload.size();
        }
    }

    void announce(std::string_view payload)
    {
        // Numbers beyond the last channel type do not exist; such
        // announcements are ignored.
        if (channels_.size() >= kMaxChannels)
            return;
        if (!ensure_udp_socket()) {
            end();
            return;
        }
        // A malformed announcement still takes its number, so the channels
        // after it keep the numbers the client counted.
        channels_.emplace_back();
        const auto destination = tunnel::parse_destination(payload);
        if (!destination)
            return;
        const size_t index = channels_.size() - 1;
        const uint16_t port = destination->port;
        // A destination the tunnel may not reach gets no address, so its
        // datagrams are dropped; so are those for a channel whose name is
        // still being looked up.
        if (const auto ip = parse_ipv4(destination->host)) {
            set_channel_address(index, make_address(*ip, port));
            return;
        }
        if (lookups_ >= kMaxLookupsPerClient)
            return;
        ++lookups_;
        channels_[index].lookup = service_.resolver_.resolve(
            destination->host, [this, index, port](std::optional<in_addr> ip) {
                channels_[index].lookup = 0;
                --lookups_;
                if (ip)
                    set_channel_address(index, make_address(*ip, port));
            });
    }

    void set_channel_address(size_t index, const sockaddr_in& address)
    {
        if (service_.targets_->allows(address))
            channels_[index].address = address;
    }

    void send_to_channel(uint8_t type, std::string_view payload)
    {
        const size_t index = type - tunnel::kFirstChannel;
        if (index < channels_.size() && channels_[index].address)
            send_datagram(payload, *channels_[index].address);
    }

    void send_datagram(std::string_view payload, const sockaddr_in& to)
    {
        // A full socket buffer drops the datagram, as a congested network would.
        ::sendto(udp_fd_, payload.data(), payload.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    bool ensure_udp_socket()
    {
        if (udp_fd_ >= 0)
            return true;
        udp_fd_ = open_bound_socket(SOCK_DGRAM, make_address(service_.relay_ip_, 0), nullptr);
        if (udp_fd_ < 0)
            return false;
        udp_watch_ = loop_.watch(udp_fd_, EPOLLIN, [this](uint32_t) { on_udp_readable(); });
        udp_reading_ = true;
        return udp_watch_ != 0;
    }

    // The frame type for a datagram from `from`: the UDP target (exact
    // address) gives data, an announced destination its channel. Channels
    // match on the exact address first, then on the IP alone, since a far
    // end behind a NAT may answer from another port. Others are dropped.
    std::optional<uint8_t> frame_type_for(const sockaddr_in& from) const
    {
        if (kind_ == tunnel::RelayKind::kUdp && target_ready_ && same_endpoint(from, *target_))
            return tunnel::kData;
        for (bool exact : {true, false}) {
            for (size_t i = 0; i < channels_.size(); ++i) {
                const auto& address = channels_[i].address;
                if (address && (exact ? same_endpoint(from, *address) : same_ip(from, *address)))
                    return static_cast<uint8_t>(tunnel::kFirstChannel + i);
            }
        }
        return std::nullopt;
    }

    void on_udp_readable()
    {
        if (!client_.full()) {
            drain_datagrams(loop_, udp_fd_, 64,
                            [&](const sockaddr_in& from, std::string_view bytes) {
                                const auto type = frame_type_for(from);
                                if (type && bytes.size() <= kTunnelMaxPayload)
                                    send_frame(*type, bytes);
                                return !client_.full();
                            });
        }
        update_flow();
    }

    void send_frame(uint8_t type, std::string_view payload)
    {
        client_.write(encode_tunnel_frame(type, payload));
    }

    // Back-pressure: a side is read only while the side it feeds can take
    // more, so no buffer grows past its limit by more than one read.
    void update_flow()
    {
        if (ended_)
            return;
        input_charge_.set(reader_.held() + waiting_bytes_);
        const bool target_full =
            waiting_bytes_ >= kTargetOutputLimit || (target_stream_ && target_stream_->full());
        client_.set_reading(!target_full);
        const bool client_full = client_.full();
        if (target_stream_)
            target_stream_->set_reading(!client_full);
        if (udp_watch_ && udp_reading_ == client_full) {
            udp_reading_ = !client_full;
            loop_.modify(udp_watch_, udp_reading_ ? uint32_t{EPOLLIN} : 0u);
        }
    }

    // Closes the target side at once and lets the client's output drain
    // before the client is closed (on_closed then ends the connection).
    void finish_client()
    {
        finishing_ = true;
        release();
        if (target_stream_)
            target_stream_->close();
        client_.finish();
    }

    void cancel_timer()
    {
        if (timer_) {
            loop_.cancel_timer(timer_);
            timer_ = 0;
        }
    }

    // Drops everything but the two streams: timers, lookups, the UDP socket.
    void release()
    {
        cancel_timer();
        if (target_lookup_) {
            service_.resolver_.cancel(target_lookup_);
            target_lookup_ = 0;
        }
        for (auto& channel : channels_) {
            if (channel.lookup)
                service_.resolver_.cancel(channel.lookup);
            channel.lookup = 0;
        }
        lookups_ = 0;
        if (udp_watch_) {
            loop_.unwatch(udp_watch_);
            udp_watch_ = 0;
        }
        if (udp_fd_ >= 0) {
            ::close(udp_fd_);
            udp_fd_ = -1;
        }
    }

    void end()
    {
        if (ended_)
            return;
        ended_ = true;
        release();
        client_.close();
        if (target_stream_)
            target_stream_->close();
        service_.connections_.remove(this);
    }

    TunnelService& service_;
    EventLoop& loop_;
    TcpStream client_;
    tunnel::StreamReader reader_;
    BudgetCharge input_charge_; // the reader's buffer and data waiting for a lookup
    bool answered_ = false;
    bool client_done_ = false; // the client ended while its target was looked up
    bool finishing_ = false;
    bool ended_ = false;
    EventLoop::TimerId timer_ = 0; // the request time-out, then the connect time-out

    bool opened_ = false;
    tunnel::RelayKind kind_ = tunnel::RelayKind::kUdp;
    uint16_t target_port_ = 0;
    Resolver::RequestId target_lookup_ = 0;
    int lookups_ = 0; // names being looked up for the target and channels
    std::optional<sockaddr_in> target_;
    bool target_ready_ = false;
    std::unique_ptr<TcpStream> target_stream_;
    std::vector<std::string> waiting_; // data for a target whose name is being looked up
    size_t waiting_bytes_ = 0;

    int udp_fd_ = -1;
    EventLoop::WatchId udp_watch_ = 0;
    bool udp_reading_ = true;
    std::vector<Channel> channels_;
};

void TunnelService::accept(int fd)
{
    const uint32_t source = peer_ip(fd);
    if (!connections_.admits(source)) {
        ::close(fd);
        return;
    }
    set_no_delay(fd);
    auto& connection = connections_.add(std::make_unique<Connection>(*this, fd), source);
    if (!connection.start())
        connections_.remove(&connection);
}

} // namespace

std::unique_ptr<Service> make_tunnel_service(const ServiceContext& context)
{
    return std::make_unique<TunnelService>(context.loop, context.config, context.limits,
                                           context.budget);
}

} // namespace vokar::operatord
