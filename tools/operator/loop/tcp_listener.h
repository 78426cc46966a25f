#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>

#include "tools/operator/loop/event_loop.h"

namespace vokar::operatord {

// A listening TCP socket on the loop that hands each accepted connection
// (non-blocking, close-on-exec) to a callback. Running out of descriptors
// pauses accepting briefly instead of spinning on the pending connection.
class TcpListener {
public:
    using AcceptCallback = std::function<void(int fd)>;

    TcpListener(EventLoop& loop, AcceptCallback on_accept);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    bool listen(const sockaddr_in& address, std::string* error);
    // The bound address, valid after listen().
    const sockaddr_in& address() const { return address_; }

private:
    void on_readable();
    void pause();

    EventLoop& loop_;
    AcceptCallback on_accept_;
    int fd_ = -1;
    sockaddr_in address_{};
    EventLoop::WatchId watch_ = 0;
    EventLoop::TimerId resume_timer_ = 0;
};

} // namespace vokar::operatord
