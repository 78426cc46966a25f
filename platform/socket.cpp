#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

namespace vokar::platform {

int winsock_error_from_errno(int error)
{
    switch (error) {
    case 0:
        return kWsaOk;
    case EINTR:
        return kWsaEintr;
    case EBADF:
        return kWsaEbadf;
    case EACCES:
    case EPERM:
        return kWsaEacces;
    case EFAULT:
        return kWsaEfault;
    case EINVAL:
        return kWsaEinval;
    case EMFILE:
    case ENFILE:
        return kWsaEmfile;
    case EAGAIN:
        return kWsaEwouldblock;
    case EINPROGRESS:
        return kWsaEinprogress;
    case EALREADY:
        return kWsaEalready;
    case ENOTSOCK:
        return kWsaEnotsock;
    case EDESTADDRREQ:
        return kWsaEdestaddrreq;
    case EMSGSIZE:
        return kWsaEmsgsize;
    case EPROTONOSUPPORT:
        return kWsaEprotonosupport;
    case EOPNOTSUPP:
        return kWsaEopnotsupp;
    case EAFNOSUPPORT:
        return kWsaEafnosupport;
    case EADDRINUSE:
        return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
        return kWsaEaddrnotavail;
    case ENETDOWN:
        return kWsaEnetdown;
    case ENETUNREACH:
        return kWsaEnetunreach;
    case ENETRESET:
        return kWsaEnetreset;
    case ECONNABORTED:
        return kWsaEconnaborted;
    case ECONNRESET:
    case EPIPE:
        return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM:
        return kWsaEnobufs;
    case EISCONN:
        return kWsaEisconn;
    case ENOTCONN:
        return kWsaEnotconn;
    case ESHUTDOWN:
        return kWsaEshutdown;
    case ETIMEDOUT:
        return kWsaEtimedout;
    case ECONNREFUSED:
        return kWsaEconnrefused;
    case EHOSTDOWN:
        return kWsaEhostdown;
    case EHOSTUNREACH:
        return kWsaEhostunreach;
    default:
        return kWsaEinval;
    }
}

uint32_t parse_ipv4(const std::string& text)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return kAddressNone;
    return a.s_addr;
}

namespace {

// Names under the reserved top-level domain "invalid" never exist, so they
// are answered as not found without sending a query off the machine.
bool under_invalid_domain(std::string_view host)
{
    if (host.ends_with('.'))
        host.remove_suffix(1);
    constexpr std::string_view kDomain = "invalid";
    if (host.size() < kDomain.size())
        return false;
    const std::string_view last = host.substr(host.size() - kDomain.size());
    const bool matches = std::equal(last.begin(), last.end(), kDomain.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    return matches &&
           (host.size() == kDomain.size() || host[host.size() - kDomain.size() - 1] == '.');
}

} // namespace

uint32_t resolve_host(const std::string& host, int* error)
{
    if (error)
        *error = kWsaOk;
    const uint32_t dotted = parse_ipv4(host);
    if (dotted != kAddressNone || host == "255.255.255.255")
        return dotted;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    const int rc = host.empty() || under_invalid_domain(host)
                       ? EAI_NONAME
                       : ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0 || !result) {
        if (error)
            *error = rc == EAI_AGAIN  ? kWsaTryAgain
                     : rc == EAI_FAIL ? kWsaNoRecovery
                                      : kWsaHostNotFound;
        return kAddressNone;
    }
    const uint32_t address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return address;
}

std::string format_ipv4(uint32_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

namespace {

sockaddr_in make_address(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

int last_error()
{
    return winsock_error_from_errno(errno);
}

} // namespace

Socket::~Socket()
{
    close();
}

int Socket::open(Type type)
{
    close();
    type_ = type;
    const int fd = ::socket(AF_INET, (type == Type::Tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                            type == Type::Tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0)
        return last_error();
    fd_ = fd;
    if (type == Type::Tcp) {
        // Each send is a whole stanza or frame that the peer waits for:
        // send it now rather than hold it for the previous one's ACK.
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return kWsaOk;
}

int Socket::bind(uint32_t address, uint16_t port)
{
    const sockaddr_in sa = make_address(address, port);
    return ::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? kWsaOk
                                                                               : last_error();
}

int Socket::connect(uint32_t address, uint16_t port, uint32_t timeout_ms,
                    const std::atomic<bool>* cancel)
{
    if (fd_ < 0)
        return kWsaEnotsock;
    const sockaddr_in sa = make_address(address, port);
    if (type_ == Type::Udp)
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0
                   ? kWsaOk
                   : last_error();
    // TCP: connect without blocking, then wait, so a dead host times out like
    // the classic stack (about 21 s) and shutdown() from another thread ends
    // the wait.
    const int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    int result = kWsaOk;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS) {
            result = last_error();
        } else {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    result = kWsaEtimedout;
                    break;
                }
                if (cancel && cancel->load()) {
                    result = kWsaEconnaborted;
                    break;
                }
                pollfd p{fd_, POLLOUT, 0};
                const int n = ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 100)));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    result = last_error();
                    break;
                }
                if (n == 0)
                    continue;
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
                // A shut-down socket reports no error but is not connected.
                if (error == 0 && (p.revents & (POLLHUP | POLLERR)))
                    error = ECONNABORTED;
                result = winsock_error_from_errno(error);
                break;
            }
        }
    }
    ::fcntl(fd_, F_SETFL, flags);
    return result;
}

int Socket::send(const void* data, size_t length, size_t* sent)
{
    *sent = 0;
    if (fd_ < 0)
        return kWsaEnotsock;
    const auto* bytes = static_cast<const char*>(data);
    do {
        const ssize_t n = ::send(fd_, bytes + *sent, length - *sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return last_error();
        *sent += static_cast<size_t>(n);
    } while (type_ == Type::Tcp && *sent < length);
    return kWsaOk;
}

int Socket::receive(void* buffer, size_t maximum, size_t* received)
{
    *received = 0;
    if (fd_ < 0)
        return kWsaEnotsock;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, maximum, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return last_error();
        *received = static_cast<size_t>(n);
        return kWsaOk;
    }
}

int Socket::wait_readable(uint32_t timeout_ms)
{
    if (fd_ < 0)
        return -1;
    pollfd p{fd_, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(timeout_ms));
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    return n;
}

bool Socket::can_send_now(size_t length)
{
    const int fd = fd_;
    if (fd < 0)
        return false;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || p.revents != POLLOUT)
        return false;
    int type = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0)
        return false;
    if (type != SOCK_STREAM)
        return true;
    int buffer = 0;
    int queued = 0;
    size = sizeof buffer;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, &size) != 0 ||
        ::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued > buffer)
        return false;
    return static_cast<size_t>(buffer - queued) >= length;
}

uint16_t Socket::local_port() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

void Socket::shutdown()
{
    const int fd = fd_;
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

void Socket::close()
{
    const int fd = fd_.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

} // namespace vokar::platform
