#include "tests/operator/peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace vokar::test {
namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

Socket::~Socket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void set_receive_timeout(int fd, std::chrono::milliseconds timeout)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

uint16_t local_port(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

Socket tcp_listener()
{
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = loopback(0);
    if (!s.valid() ||
        ::bind(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.fd(), 8) != 0)
        return Socket();
    set_receive_timeout(s.fd(), kReplyTimeout);
    return s;
}

Socket accept_client(int listener)
{
    Socket s(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (s.valid())
        set_receive_timeout(s.fd(), kReplyTimeout);
    return s;
}

Socket tcp_connect(uint16_t port, const char* source)
{
    return tcp_connect("127.0.0.1", port, source);
}

Socket tcp_connect(const std::string& host, uint16_t port, const char* source)
{
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    auto address = loopback(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        return Socket();
    if (s.valid() && source) {
        sockaddr_in from = loopback(0);
        ::inet_pton(AF_INET, source, &from.sin_addr);
        if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
            return Socket();
    }
    if (!s.valid() ||
        ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Socket();
    set_receive_timeout(s.fd(), kReplyTimeout);
    return s;
}

bool send_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> recv_exact(int fd, size_t count)
{
    std::string data(count, '\0');
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::recv(fd, data.data() + got, count - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        got += static_cast<size_t>(n);
    }
    return data;
}

std::string recv_some(int fd, size_t max)
{
    std::string data(max, '\0');
    const ssize_t n = ::recv(fd, data.data(), max, 0);
    data.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return data;
}

bool closed_by_peer(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET; // a time-out is EAGAIN
    }
}

bool quiet_for(int fd, std::chrono::milliseconds period)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(period.count())) == 0;
}

Socket udp_socket()
{
    Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const auto address = loopback(0);
    if (!s.valid() ||
        ::bind(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Socket();
    set_receive_timeout(s.fd(), kReplyTimeout);
    return s;
}

bool udp_send(int fd, uint16_t port, std::string_view payload)
{
    const auto to = loopback(port);
    return ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(payload.size());
}

bool udp_send(int fd, const std::string& host, uint16_t port, std::string_view payload)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1)
        return false;
    return ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(payload.size());
}

std::optional<Datagram> udp_receive(int fd)
{
    std::string buffer(65536, '\0');
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0)
        return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return Datagram{std::move(buffer), ntohs(from.sin_port)};
}

std::optional<Frame> read_frame(int fd)
{
    const auto header = recv_exact(fd, kTunnelFrameHeader);
    if (!header)
        return std::nullopt;
    const size_t total = tunnel_frame_length(*header).value_or(0);
    if (total == 0)
        return std::nullopt;
    auto payload = recv_exact(fd, total - kTunnelFrameHeader);
    if (!payload)
        return std::nullopt;
    return Frame{static_cast<uint8_t>((*header)[4]), std::move(*payload)};
}

std::string length_field(uint32_t length)
{
    return {static_cast<char>(length & 0xff), static_cast<char>(length >> 8 & 0xff),
            static_cast<char>(length >> 16 & 0xff), static_cast<char>(length >> 24)};
}

std::string tunnel_request(std::string_view method, uint16_t tunnel_port)
{
    return std::string(method) + "127.0.0.1:" + std::to_string(tunnel_port) + " HTTP/1.1\r\n\r\n";
}

Socket open_tunnel(const std::string& host, uint16_t tunnel_port, std::string_view method,
                   const char* source)
{
    Socket s = tcp_connect(host, tunnel_port, source);
    const std::string request = tunnel_request(method, tunnel_port);
    if (!s.valid() || !send_all(s.fd(), request + request))
        return Socket();
    if (recv_exact(s.fd(), kOk.size()) != kOk)
        return Socket();
    return s;
}

std::optional<uint16_t> open_udp_relay(int tunnel, std::string_view host, uint16_t port)
{
    if (!send_all(tunnel, frame(1, "1\n" + std::string(host) + "\n" + std::to_string(port))))
        return std::nullopt;
    const auto answer = read_frame(tunnel);
    if (!answer || answer->type != 2 || answer->payload.empty() || answer->payload.size() > 5 ||
        answer->payload.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<uint16_t>(std::stoi(answer->payload));
}

} // namespace vokar::test
