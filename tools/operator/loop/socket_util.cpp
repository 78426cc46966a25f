#include "tools/operator/loop/socket_util.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vokar::operatord {

std::optional<in_addr> parse_ipv4(std::string_view host)
{
    if (host.empty() || host.size() > 15)
        return std::nullopt;
    const std::string text(host);
    in_addr ip{};
    if (::inet_pton(AF_INET, text.c_str(), &ip) != 1)
        return std::nullopt;
    return ip;
}

bool plausible_host_name(std::string_view host)
{
    if (host.empty() || host.size() > 253)
        return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<in_addr> resolve_ipv4_blocking(const std::string& host)
{
    if (auto ip = parse_ipv4(host))
        return ip;
    if (!plausible_host_name(host))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    const in_addr ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return ip;
}

sockaddr_in make_address(in_addr ip, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = ip;
    address.sin_port = htons(port);
    return address;
}

std::optional<sockaddr_in> configured_address(std::string_view key, const std::string& host,
                                              uint16_t port, std::string* error)
{
    const auto ip = resolve_ipv4_blocking(host);
    if (!ip) {
        if (error)
            *error = std::string(key) + " '" + host +
                     "' is neither an IPv4 address nor a resolvable name";
        return std::nullopt;
    }
    return make_address(*ip, port);
}

std::string format_address(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

uint32_t peer_ip(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET)
        return 0;
    return address.sin_addr.s_addr;
}

std::optional<sockaddr_in> local_address(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return std::nullopt;
    return address;
}

int open_bound_socket(int type, const sockaddr_in& address, std::string* error)
{
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const char* step = "socket";
    if (fd >= 0) {
        const int on = 1;
        if (type == SOCK_STREAM)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        step = "bind";
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            step = "listen";
            if (type != SOCK_STREAM || ::listen(fd, SOMAXCONN) == 0)
                return fd;
        }
    }
    const int saved = errno;
    if (fd >= 0)
        ::close(fd);
    if (error)
        *error = std::string("cannot ") + step + " " + format_address(address) + ": " +
                 std::strerror(saved);
    return -1;
}

void set_no_delay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace vokar::operatord
