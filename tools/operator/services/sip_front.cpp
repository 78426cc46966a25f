#include "tools/operator/services/sip_front.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <unordered_map>

#include "base/scramble.h"
#include "tools/operator/loop/socket_util.h"
#include "tools/operator/services/bound_udp_socket.h"

namespace vokar::operatord {
namespace {

using Clock = std::chrono::steady_clock;

// The client's keep-alive, once unscrambled.
constexpr std::string_view kKeepAlive = " ";
// Datagrams handled per readiness event, so one busy socket cannot starve
// the loop.
constexpr int kDatagramsPerEvent = 64;

uint64_t address_key(const sockaddr_in& address)
{
    return (uint64_t{address.sin_addr.s_addr} << 16) | address.sin_port;
}

class SipFrontService final : public Service {
public:
    explicit SipFrontService(const ServiceContext& context)
        : loop_(context.loop), limits_(context.limits), host_(context.config.sip_host),
          port_(context.config.sip_port),
          server_host_(context.config.get("sip_server_host", "127.0.0.1")),
          server_port_text_(context.config.get("sip_server_port", "5070")), socket_(context.loop)
    {
    }

    ~SipFrontService() override
    {
        while (!mappings_.empty())
            remove(mappings_.begin()->second.get());
    }

    bool start(std::string* error) override
    {
        const auto server_port = platform::parse_port(server_port_text_);
        if (!server_port) {
            *error = "'sip_server_port' must be a port number from 1 to 65535, not '" +
                     server_port_text_ + "'";
            return false;
        }
        const auto server =
            configured_address("sip_server_host", server_host_, *server_port, error);
        if (!server)
            return false;
        server_ = *server;
        return socket_.open(
            "sip_host", host_, port_, [this](uint32_t) { on_client_readable(); }, error);
    }

    std::string endpoint() const override { return format_address(socket_.bound()); }

private:
    struct Mapping {
        sockaddr_in client{};
        int fd = -1;
        EventLoop::WatchId watch = 0;
        EventLoop::TimerId timer = 0;
        Clock::time_point last_active;
    };

    void on_client_readable()
    {
        drain_datagrams(loop_, socket_.fd(), kDatagramsPerEvent,
                        [&](const sockaddr_in& from, std::string_view bytes) {
                            const std::string text = unscramble(bytes);
                            if (text.empty())
                                return true;
                            Mapping* mapping = find_or_add(from);
                            if (!mapping)
                                return true;
                            mapping->last_active = Clock::now();
                            // A full send buffer drops the datagram, as the
                            // network might.
                            if (text != kKeepAlive)
                                ::send(mapping->fd, text.data(), text.size(), MSG_DONTWAIT);
                            return true;
                        });
    }

    void on_server_readable(Mapping* mapping)
    {
        drain_datagrams(loop_, mapping->fd, kDatagramsPerEvent,
                        [&](const sockaddr_in&, std::string_view received) {
                            if (received.empty())
                                return true;
                            mapping->last_active = Clock::now();
                            const std::string bytes = scramble(received);
                            ::sendto(socket_.fd(), bytes.data(), bytes.size(), MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr*>(&mapping->client),
                                     sizeof mapping->client);
                            return true;
                        });
    }

    // The client's mapping, made on its first datagram; null when the limits
    // refuse a new one or no upstream socket can be made.
    Mapping* find_or_add(const sockaddr_in& client)
    {
        const uint64_t key = address_key(client);
        if (auto it = mappings_.find(key); it != mappings_.end())
            return it->second.get();
        const uint32_t source = client.sin_addr.s_addr;
        auto count = per_source_.find(source);
        if (mappings_.size() >= limits_.max_connections ||
            (count != per_source_.end() && count->second >= limits_.max_per_source))
            return nullptr;

        auto mapping = std::make_unique<Mapping>();
        mapping->client = client;
        sockaddr_in local = make_address(socket_.bound().sin_addr, 0);
        mapping->fd = open_bound_socket(SOCK_DGRAM, local, nullptr);
        if (mapping->fd < 0)
            return nullptr;
        if (::connect(mapping->fd, reinterpret_cast<const sockaddr*>(&server_), sizeof server_) !=
            0) {
            ::close(mapping->fd);
            return nullptr;
        }
        Mapping* raw = mapping.get();
        raw->watch =
            loop_.watch(raw->fd, EPOLLIN, [this, raw](uint32_t) { on_server_readable(raw); });
        if (!raw->watch) {
            ::close(raw->fd);
            return nullptr;
        }
        raw->last_active = Clock::now();
        arm_expiry(raw, limits_.idle_timeout);
        ++per_source_[source];
        mappings_.emplace(key, std::move(mapping));
        return raw;
    }

    // Checks the mapping once `delay` has passed; activity since then
    // postpones its end by the remainder.
    void arm_expiry(Mapping* mapping, std::chrono::milliseconds delay)
    {
        mapping->timer = loop_.add_timer(delay, [this, mapping] {
            mapping->timer = 0;
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                Clock::now() - mapping->last_active);
            if (idle >= limits_.idle_timeout)
                remove(mapping);
            else
                arm_expiry(mapping, limits_.idle_timeout - idle);
        });
    }

    void remove(Mapping* mapping)
    {
        if (mapping->timer)
            loop_.cancel_timer(mapping->timer);
        loop_.unwatch(mapping->watch);
        ::close(mapping->fd);
        const uint32_t source = mapping->client.sin_addr.s_addr;
        if (auto count = per_source_.find(source);
            count != per_source_.end() && --count->second == 0)
            per_source_.erase(count);
        auto it = mappings_.find(address_key(mapping->client));
        // The mapping's own callbacks may be on the stack: free it later.
        std::shared_ptr<Mapping> owned(std::move(it->second));
        mappings_.erase(it);
        loop_.defer([owned] {});
    }

    EventLoop& loop_;
    const Limits& limits_;
    std::string host_;
    uint16_t port_;
    std::string server_host_;
    std::string server_port_text_;
    sockaddr_in server_{};
    BoundUdpSocket socket_;
    std::unordered_map<uint64_t, std::unique_ptr<Mapping>> mappings_;
    std::unordered_map<uint32_t, size_t> per_source_;
};

} // namespace

std::unique_ptr<Service> make_sip_front_service(const ServiceContext& context)
{
    return std::make_unique<SipFrontService>(context);
}

} // namespace vokar::operatord
