#include "tools/operator/services/echo_service.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tools/operator/loop/connection_set.h"
#include "tools/operator/loop/socket_util.h"
#include "tools/operator/loop/tcp_listener.h"
#include "tools/operator/loop/tcp_stream.h"
#include "tools/operator/services/bound_udp_socket.h"

namespace vokar::operatord {
namespace {

class EchoUdpService final : public Service {
public:
    EchoUdpService(EventLoop& loop, const platform::OperatorConfig& config)
        : loop_(loop), host_(config.echo_host), port_(config.echo_udp_port), socket_(loop)
    {
    }

    bool start(std::string* error) override
    {
        return socket_.open(
            "echo_host", host_, port_, [this](uint32_t) { on_readable(); }, error);
    }

    std::string endpoint() const override { return format_address(socket_.bound()); }

private:
    void on_readable()
    {
        drain_datagrams(loop_, socket_.fd(), 64,
                        [&](const sockaddr_in& from, std::string_view bytes) {
                            // A full send buffer drops the echo, as the network might.
                            ::sendto(socket_.fd(), bytes.data(), bytes.size(), MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr*>(&from), sizeof from);
                            return true;
                        });
    }

    EventLoop& loop_;
    std::string host_;
    uint16_t port_;
    BoundUdpSocket socket_;
};

class EchoTcpService final : public Service {
public:
    // The echo waits for its client to read; a probe needs a few bytes.
    static constexpr size_t kOutputLimit = 16 * 1024;

    EchoTcpService(EventLoop& loop, const platform::OperatorConfig& config, const Limits& limits,
                   BufferBudget& budget)
        : loop_(loop), limits_(limits), budget_(budget), host_(config.echo_host),
          port_(config.echo_tcp_port), listener_(loop, [this](int fd) { accept(fd); }),
          connections_(loop, limits.max_connections, limits.max_per_source)
    {
    }

    bool start(std::string* error) override
    {
        const auto address = configured_address("echo_host", host_, port_, error);
        return address && listener_.listen(*address, error);
    }

    std::string endpoint() const override { return format_address(listener_.address()); }

private:
    // Writes back what it reads; while the client does not read its echo
    // and the output is full, it stops reading from the client. Silent past
    // the request time-out before its first bytes, or past the idle time-out
    // later, it is closed.
    class Connection final : public TcpStream::Owner {
    public:
        Connection(EchoTcpService& service, int fd)
            : service_(service),
              stream_(service.loop_, *this, fd, false, kOutputLimit, &service.budget_)
        {
        }
        bool start()
        {
            if (!stream_.start())
                return false;
            stream_.set_idle_limit(service_.limits_.request_timeout);
            return true;
        }

        void on_data(TcpStream& stream, std::string_view bytes) override
        {
            if (!talking_) {
                talking_ = true;
                stream.set_idle_limit(service_.limits_.idle_timeout);
            }
            stream.write(bytes);
            if (stream.full())
                stream.set_reading(false);
        }
        void on_drained(TcpStream& stream) override { stream.set_reading(true); }
        void on_eof(TcpStream& stream) override { stream.finish(); }
        void on_closed(TcpStream&) override { service_.connections_.remove(this); }

    private:
        EchoTcpService& service_;
        TcpStream stream_;
        bool talking_ = false;
    };

    void accept(int fd)
    {
        const uint32_t source = peer_ip(fd);
        if (!connections_.admits(source)) {
            ::close(fd);
            return;
        }
        auto& connection = connections_.add(std::make_unique<Connection>(*this, fd), source);
        if (!connection.start())
            connections_.remove(&connection);
    }

    EventLoop& loop_;
    const Limits& limits_;
    BufferBudget& budget_;
    std::string host_;
    uint16_t port_;
    TcpListener listener_;
    ConnectionSet<Connection> connections_;
};

} // namespace

std::unique_ptr<Service> make_echo_udp_service(const ServiceContext& context)
{
    return std::make_unique<EchoUdpService>(context.loop, context.config);
}

std::unique_ptr<Service> make_echo_tcp_service(const ServiceContext& context)
{
    return std::make_unique<EchoTcpService>(context.loop, context.config, context.limits,
                                            context.budget);
}

} // namespace vokar::operatord
