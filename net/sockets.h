#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/socket.h"

namespace vokar {

// Which operation failed, as reported through a SocketErrorCallback.
enum SocketErrorKind : int {
    kSocketErrorConnect = 0, // start-up, socket creation, bind or connect
    kSocketErrorSend = 1,
    kSocketErrorReceive = 2,
};

// (kind, Winsock error number). May be empty: failures are then silent.
using SocketErrorCallback = std::function<void(int kind, int error)>;

// A blocking TCP connection. Any thread may call close() to end a receive
// blocked on another thread.
class TcpSocket {
public:
    TcpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
              SocketErrorCallback on_error);
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves `host` and connects (the TCP socket never binds its local port).
    bool connect(const std::string& host);
    // Sends every byte; a failure closes the socket and reports kind 1.
    bool send(const void* data, size_t length);
    // One receive of at most `maximum` bytes into *out. Returns the count; -1
    // when not connected (no report); 0 or less when the peer closed or the
    // receive failed, which closes the socket and reports kind 2.
    int receive(std::string* out, size_t maximum);
    // Waits up to timeout_ms for something to receive: 1 ready, 0 time-out,
    // negative when the socket is unusable.
    int wait_readable(uint32_t timeout_ms) { return socket_.wait_readable(timeout_ms); }
    bool can_send_now(size_t length) { return connected_ && socket_.can_send_now(length); }
    void close();
    bool connected() const { return connected_; }
    // Kept for information: the TCP socket leaves its local port to the system.
    uint16_t local_port() const { return local_port_; }
    const std::string& local_address() const { return local_address_; }

private:
    void report(int kind, int error);

    const uint16_t local_port_;
    const uint16_t remote_port_;
    const std::string local_address_;
    SocketErrorCallback on_error_;
    platform::Socket socket_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> closing_{false};
};

// A UDP socket bound to a local address and port and connected to one peer,
// so it only receives that peer's datagrams.
class UdpSocket {
public:
    UdpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
              SocketErrorCallback on_error);
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool open(const std::string& host);
    // One datagram; a short send reports kind 1. The socket stays open.
    bool send(const void* data, size_t length);
    bool can_send_now(size_t length) { return open_ && socket_.can_send_now(length); }
    // One datagram of at most `maximum` bytes (longer ones are cut). Returns
    // the count; -1 when not open; 0 or less for an empty datagram or an
    // error, reported as kind 2 unless the socket is being closed.
    int receive(std::string* out, size_t maximum);
    void close();
    bool is_open() const { return open_; }
    // The Winsock result of the last send or receive.
    int last_result() const { return last_result_; }
    uint32_t receive_count() const { return receive_count_; }
    uint16_t bound_port() const { return socket_.local_port(); }

private:
    void report(int kind, int error);

    const uint16_t local_port_;
    const uint16_t remote_port_;
    const std::string local_address_;
    SocketErrorCallback on_error_;
    platform::Socket socket_;
    std::atomic<bool> open_{false};
    std::atomic<bool> closing_{false};
    std::atomic<int> last_result_{0};
    std::atomic<uint32_t> receive_count_{0};
};

} // namespace vokar
