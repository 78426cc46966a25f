#include "tools/operator/loop/tcp_listener.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/operator/loop/socket_util.h"

namespace vokar::operatord {

TcpListener::TcpListener(EventLoop& loop, AcceptCallback on_accept)
    : loop_(loop), on_accept_(std::move(on_accept))
{
}

TcpListener::~TcpListener()
{
    if (resume_timer_)
        loop_.cancel_timer(resume_timer_);
    if (watch_)
        loop_.unwatch(watch_);
    if (fd_ >= 0)
        ::close(fd_);
}

bool TcpListener::listen(const sockaddr_in& address, std::string* error)
{
    fd_ = open_bound_socket(SOCK_STREAM, address, error);
    if (fd_ < 0)
        return false;
    address_ = local_address(fd_).value_or(address);
    watch_ = loop_.watch(fd_, EPOLLIN, [this](uint32_t) { on_readable(); });
    if (!watch_) {
        if (error)
            *error = "cannot watch " + format_address(address_) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void TcpListener::on_readable()
{
    // A bounded batch per wake-up keeps one busy listener from starving the
    // connections already open.
    for (int i = 0; i < 64; ++i) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            on_accept_(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            pause();
        return;
    }
}

void TcpListener::pause()
{
    if (resume_timer_)
        return;
    loop_.modify(watch_, 0);
    resume_timer_ = loop_.add_timer(std::chrono::milliseconds(100), [this] {
        resume_timer_ = 0;
        loop_.modify(watch_, EPOLLIN);
    });
}

} // namespace vokar::operatord
