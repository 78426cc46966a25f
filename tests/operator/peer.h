#pragma once

// Plain-socket peers for the daemon's tests. Every socket has a receive
// time-out, so a missing answer fails a test instead of hanging it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/tunnel_frames.h"

namespace vokar::test {

inline constexpr auto kReplyTimeout = std::chrono::milliseconds(3000);

class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&& other) noexcept;
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

void set_receive_timeout(int fd, std::chrono::milliseconds timeout);
uint16_t local_port(int fd);

// A TCP listener on 127.0.0.1 (port of the system's choice), and the next
// client it accepts (invalid after the reply time-out).
Socket tcp_listener();
Socket accept_client(int listener);
// TCP to 127.0.0.1:port, from the loopback address `source` when given
// (e.g. "127.0.0.2", another host to the daemon); invalid when refused.
Socket tcp_connect(uint16_t port, const char* source = nullptr);
// The same to the numeric IPv4 `host` (the echo and tunnel listen on an
// address of their own).
Socket tcp_connect(const std::string& host, uint16_t port, const char* source = nullptr);
bool send_all(int fd, std::string_view bytes);
std::optional<std::string> recv_exact(int fd, size_t count);
// One read of at most `max` bytes; empty on end of stream or time-out.
std::string recv_some(int fd, size_t max);
// True when the peer closes (end of stream or reset) before the time-out;
// data arriving first is read and dropped.
bool closed_by_peer(int fd);
// True when nothing arrives and the connection stays open for `period`.
bool quiet_for(int fd, std::chrono::milliseconds period);

// UDP bound to 127.0.0.1 on a port of the system's choice.
Socket udp_socket();
bool udp_send(int fd, uint16_t port, std::string_view payload);
// To a numeric IPv4 `host` (another loopback address, say).
bool udp_send(int fd, const std::string& host, uint16_t port, std::string_view payload);
struct Datagram {
    std::string payload;
    uint16_t from_port = 0;
};
std::optional<Datagram> udp_receive(int fd);

// Tunnel frames, in the codec both ends use.
using Frame = TunnelFrame;
inline std::string frame(uint8_t type, std::string_view payload)
{
    return encode_tunnel_frame(type, payload);
}
std::optional<Frame> read_frame(int fd);
// A frame's length field alone, for lengths the codec never writes.
std::string length_field(uint32_t length);

inline constexpr std::string_view kOk = "HTTP/1.1 200 Connection established\r\n\r\n";
std::string tunnel_request(std::string_view method, uint16_t tunnel_port);

// A client through the handshake as the real one does it: the request twice
// back to back, then exactly the 200 response. Invalid on any deviation.
Socket open_tunnel(const std::string& host, uint16_t tunnel_port,
                   std::string_view method = "CONNECT ", const char* source = nullptr);
// Sends the open frame for a UDP relay and returns the port the type 2 frame
// reports; nullopt on any other answer.
std::optional<uint16_t> open_udp_relay(int tunnel, std::string_view host, uint16_t port);

} // namespace vokar::test
