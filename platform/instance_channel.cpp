#include "platform/instance_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vokar::platform {

namespace {

constexpr char kRequest[] = "raise\n";
constexpr char kAnswer[] = "ok\n";

bool make_address(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Waits for `events` on `fd` until `deadline`; false on timeout or error.
bool wait_fd(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

std::string InstanceChannel::socket_path(const std::string& data_dir)
{
    return data_dir + "instance.sock";
}

InstanceChannel::InstanceChannel(const std::string& data_dir, std::function<void()> on_raise)
    : path_(socket_path(data_dir)), on_raise_(std::move(on_raise))
{
    sockaddr_un address;
    if (!make_address(path_, address))
        throw std::runtime_error("data directory path too long for its socket: " + path_);
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    // The caller holds the data directory's instance lock, so a socket file
    // left here belongs to a client that has ended.
    ::unlink(path_.c_str());
    if (::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listen_fd_, 4) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(listen_fd_);
        throw std::runtime_error("cannot listen on " + path_ + ": " + reason);
    }
    thread_ = std::thread([this] { serve(); });
}

InstanceChannel::~InstanceChannel()
{
    // Wakes the blocked accept().
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
    ::unlink(path_.c_str());
}

void InstanceChannel::serve()
{
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // shut down
        }
        // A peer that connects and stays silent holds only this thread, and
        // only for a second.
        char buffer[sizeof(kRequest)] = {};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        size_t got = 0;
        while (got < sizeof(kRequest) - 1 && wait_fd(fd, POLLIN, deadline)) {
            const ssize_t n = ::read(fd, buffer + got, sizeof(kRequest) - 1 - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (got == sizeof(kRequest) - 1 && std::memcmp(buffer, kRequest, got) == 0) {
            on_raise_();
            (void)::send(fd, kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
        }
        ::close(fd);
    }
}

bool InstanceChannel::raise_running(const std::string& data_dir, std::chrono::milliseconds limit)
{
    sockaddr_un address;
    if (!make_address(socket_path(data_dir), address))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(fd, kRequest, sizeof(kRequest) - 1, MSG_NOSIGNAL) ==
            static_cast<ssize_t>(sizeof(kRequest) - 1)) {
        char buffer[sizeof(kAnswer)] = {};
        size_t got = 0;
        while (got < sizeof(kAnswer) - 1 && wait_fd(fd, POLLIN, deadline)) {
            const ssize_t n = ::read(fd, buffer + got, sizeof(kAnswer) - 1 - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        answered = got == sizeof(kAnswer) - 1 && std::memcmp(buffer, kAnswer, got) == 0;
    }
    ::close(fd);
    return answered;
}

} // namespace vokar::platform
