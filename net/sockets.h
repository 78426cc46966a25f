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

// What both socket kinds share: the endpoints given at construction, the
// error callback, the platform socket, and the flag that tells a close from
// another thread from a failure.
class BasicSocket {
public:
    BasicSocket(const BasicSocket&) = delete;
    BasicSocket& operator=(const BasicSocket&) = delete;

    // Kept for information: only the UDP socket binds its local port.
    uint16_t local_port() const { return local_port_; }
    const std::string& local_address() const { return local_address_; }

protected:
    BasicSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
                SocketErrorCallback on_error);

    void report(int kind, int error) const;
    // The remote address, or kAddressNone with *error set.
    static uint32_t resolve(const std::string& host, int* error);
    // One receive of at most `maximum` bytes into *out (empty on failure);
    // returns the Winsock error number.
    int receive_into(std::string* out, size_t maximum);

    const uint16_t local_port_;
    const uint16_t remote_port_;
    const std::string local_address_;
    const SocketErrorCallback on_error_;
    platform::Socket socket_;
    std::atomic<bool> closing_{false};
};

// A blocking TCP connection. Any thread may call close() to end a receive
// blocked on another thread.
class TcpSocket : public BasicSocket {
public:
    TcpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
              SocketErrorCallback on_error);

    // Resolves `host` and connects (the TCP socket never binds its local port).
    bool connect(const std::string& host);
    // Sends every byte; a failure closes the socket and reports kSocketErrorSend.
    bool send(const void* data, size_t length);
    // One receive of at most `maximum` bytes into *out. Returns the count; -1
    // when not connected (no report); 0 or less when the peer closed or the
    // receive failed, which closes the socket and reports kSocketErrorReceive.
    int receive(std::string* out, size_t maximum);
    // Waits up to timeout_ms for something to receive: 1 ready, 0 time-out,
    // negative when the socket is unusable.
    int wait_readable(uint32_t timeout_ms) { return socket_.wait_readable(timeout_ms); }
    bool can_send_now(size_t length) { return connected_ && socket_.can_send_now(length); }
    void close();
    bool connected() const { return connected_; }

private:
    std::atomic<bool> connected_{false};
};

// A UDP socket bound to a local address and port and connected to one peer,
// so it only receives that peer's datagrams.
class UdpSocket : public BasicSocket {
public:
    UdpSocket(uint16_t local_port, uint16_t remote_port, std::string local_address,
              SocketErrorCallback on_error);

    bool open(const std::string& host);
    // One datagram; a short send reports kSocketErrorSend. The socket stays open.
    bool send(const void* data, size_t length);
    bool can_send_now(size_t length) { return open_ && socket_.can_send_now(length); }
    // One datagram of at most `maximum` bytes (longer ones are cut). Returns
    // the count; -1 when not open; 0 or less for an empty datagram or an
    // error, reported as kSocketErrorReceive unless the socket is being closed.
    int receive(std::string* out, size_t maximum);
    void close();
    bool is_open() const { return open_; }
    // The Winsock result of the last send or receive.
    int last_result() const { return last_result_; }
    uint32_t receive_count() const { return receive_count_; }
    uint16_t bound_port() const { return socket_.local_port(); }

private:
    std::atomic<bool> open_{false};
    std::atomic<int> last_result_{0};
    std::atomic<uint32_t> receive_count_{0};
};

} // namespace vokar
