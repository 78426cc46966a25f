#pragma once

// Minimal scripted peers on 127.0.0.1 for the connectivity tests: a TCP
// listener that accepts one client and a UDP socket, both with receive
// time-outs so a test can never hang.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace vokar::test {

inline void set_timeout(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

inline sockaddr_in loopback(uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

inline uint16_t bound_port(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

class TcpPeer {
public:
    TcpPeer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listener_, 4);
        port_ = bound_port(listener_);
    }
    ~TcpPeer()
    {
        drop();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }
    bool accept(int timeout_ms = 5000)
    {
        set_timeout(listener_, timeout_ms);
        client_ = ::accept(listener_, nullptr, nullptr);
        if (client_ < 0)
            return false;
        int one = 1;
        ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        set_timeout(client_, 5000);
        return true;
    }
    // Writes one chunk and pauses so the client reads it on its own.
    void write(const std::string& bytes, int pause_ms = 60)
    {
        ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    // Reads exactly n bytes (or less on time-out / close).
    std::string read(size_t n)
    {
        std::string out;
        char buf[4096];
        while (out.size() < n) {
            const ssize_t got = ::recv(client_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                break;
            out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    void drop()
    {
        if (client_ >= 0)
            ::close(client_);
        client_ = -1;
    }

private:
    int listener_ = -1;
    int client_ = -1;
    uint16_t port_ = 0;
};

class UdpPeer {
public:
    explicit UdpPeer(uint16_t port = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = loopback(port);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        port_ = bound_port(fd_);
        set_timeout(fd_, 3000);
    }
    ~UdpPeer() { ::close(fd_); }
    uint16_t port() const { return port_; }
    // Receives one datagram and remembers its sender; "" on time-out.
    std::string receive()
    {
        char buf[65536];
        socklen_t len = sizeof from_;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from_), &len);
        return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
    }
    uint16_t last_sender_port() const { return ntohs(from_.sin_port); }
    void reply(const std::string& bytes)
    {
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&from_),
                 sizeof from_);
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    sockaddr_in from_{};
};

} // namespace vokar::test
