#pragma once

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "tools/operator/loop/event_loop.h"
#include "tools/operator/loop/socket_util.h"

namespace vokar::operatord {

// A datagram socket bound to a configured address and watched on the loop
// for input, as the UDP services listen. Unwatched and closed when it goes.
class BoundUdpSocket {
public:
    explicit BoundUdpSocket(EventLoop& loop) : loop_(loop) {}
    BoundUdpSocket(const BoundUdpSocket&) = delete;
    BoundUdpSocket& operator=(const BoundUdpSocket&) = delete;

    ~BoundUdpSocket()
    {
        if (watch_)
            loop_.unwatch(watch_);
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Binds to host:port (`key` names the host setting in an error) and
    // calls `on_readable` whenever datagrams wait.
    bool open(std::string_view key, const std::string& host, uint16_t port,
              EventLoop::IoCallback on_readable, std::string* error)
    {
        const auto address = configured_address(key, host, port, error);
        if (!address)
            return false;
        fd_ = open_bound_socket(SOCK_DGRAM, *address, error);
        if (fd_ < 0)
            return false;
        bound_ = local_address(fd_).value_or(*address);
        watch_ = loop_.watch(fd_, EPOLLIN, std::move(on_readable));
        return watch_ != 0;
    }

    int fd() const { return fd_; }
    // The address bound, with the port the system chose for port 0.
    const sockaddr_in& bound() const { return bound_; }

private:
    EventLoop& loop_;
    int fd_ = -1;
    sockaddr_in bound_{};
    EventLoop::WatchId watch_ = 0;
};

// Reads the datagrams waiting on `fd`, at most `limit` of them, into the
// loop's scratch buffer and hands each with its IPv4 source to
// `on_datagram(from, bytes)`, which returns whether to read on. Returns when
// none waits, so one busy socket cannot hold the loop.
template <class OnDatagram>
void drain_datagrams(EventLoop& loop, int fd, int limit, OnDatagram&& on_datagram)
{
    char* buffer = loop.scratch();
    for (int i = 0; i < limit; ++i) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, EventLoop::kScratchSize, 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (from_length != sizeof from || from.sin_family != AF_INET)
            continue;
        if (!on_datagram(from, std::string_view(buffer, static_cast<size_t>(n))))
            return;
    }
}

} // namespace vokar::operatord
