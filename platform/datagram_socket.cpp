#include "platform/datagram_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"

namespace vokar::platform {
namespace {

sockaddr_in make_address(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

} // namespace

DatagramSocket::~DatagramSocket()
{
    close();
}

int DatagramSocket::open(uint32_t address, uint16_t port)
{
    close();
    shut_ = false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        return winsock_error_from_errno(errno);
    }
    const sockaddr_in sa = make_address(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const int error = winsock_error_from_errno(errno);
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return kWsaOk;
}

int DatagramSocket::send_to(uint32_t address, uint16_t port, const void* data, size_t length)
{
    const int fd = fd_;
    if (fd < 0 || shut_) {
        return kWsaEnotsock;
    }
    const sockaddr_in sa = make_address(address, port);
    const ssize_t n =
        ::sendto(fd, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return n < 0 ? winsock_error_from_errno(errno) : kWsaOk;
}

int DatagramSocket::receive_from(void* buffer, size_t maximum, size_t* received, uint32_t* address,
                                 uint16_t* port)
{
    *received = 0;
    const int fd = fd_;
    if (fd < 0 || shut_) {
        return kWsaEshutdown;
    }
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    ssize_t n;
    do {
        n = ::recvfrom(fd, buffer, maximum, 0, reinterpret_cast<sockaddr*>(&sa), &size);
    } while (n < 0 && errno == EINTR && !shut_);
    if (shut_) {
        return kWsaEshutdown;
    }
    if (n < 0) {
        return winsock_error_from_errno(errno);
    }
    *received = static_cast<size_t>(n);
    *address = sa.sin_addr.s_addr;
    *port = ntohs(sa.sin_port);
    return kWsaOk;
}

uint16_t DatagramSocket::local_port() const
{
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

void DatagramSocket::shutdown()
{
    shut_ = true;
    const int fd = fd_;
    if (fd >= 0) {
        // On Linux, shutdown() wakes a blocked recvfrom on a UDP socket.
        ::shutdown(fd, SHUT_RDWR);
    }
}

void DatagramSocket::close()
{
    const int fd = fd_.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace vokar::platform
