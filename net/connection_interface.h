#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/sockets.h"
#include "net/tunnel_connection.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace vokar {

// Answers whether a connection must go through the tunnel, and in which mode.
// The transport probe implements it.
class TransportPolicy {
public:
    virtual ~TransportPolicy() = default;
    // The direct transport (TCP or UDP) fails and a tunnel works.
    virtual bool needsTunnel(bool use_tcp) const = 0;
    // A needed tunnel uses the standard "CONNECT " request.
    virtual bool prefersConnect() const = 0;
    // Connections to the service on `port` go through the tunnel although the
    // direct transport in general works (the network blocks that service).
    virtual bool tunnelsService(uint16_t /*port*/, bool /*use_tcp*/) const { return false; }
    // The outcome of a direct connect to the service on `port`: 0, or the
    // Winsock error. May block while the policy tests the tunnel.
    virtual void directConnectResult(uint16_t /*port*/, bool /*use_tcp*/, int /*error*/) {}
};

// Implemented by the protocol engines that own a connection.
class ConnectionListener {
public:
    virtual ~ConnectionListener() = default;
    // One received message (one TCP chunk or one datagram).
    virtual void onReceive(const std::string& message) = 0;
    // 0 when open succeeded; 1 when it failed, or when an open connection was
    // lost (the peer closed it or the network failed; not after close()).
    virtual void onConnectResult(int status) = 0;
};

// One message-oriented connection to a server over UDP, TCP or the tunnel
// (in either mode), as the transport policy decides at construction; a TCP
// connection also takes the tunnel when the policy routes its service
// through it at open, and reports each direct connect's outcome to the
// policy. Sends
// are serialised; a receive thread hands every message to the listener;
// traffic can be scrambled.
//
// Lifetime: close() ends a blocked receive and returns within a bounded time.
// The sockets are freed only once the receive thread has left them, and the
// destructor waits for the receive thread and any open in progress, so a
// listener is never called after the connection is destroyed. Never destroy
// a connection from its own receive thread.
class ConnectionInterface {
public:
    static constexpr size_t kChunkSize = 3000;

    ConnectionInterface(std::string local_address, bool use_tcp, bool scramble,
                        SocketErrorCallback on_error, TransportPolicy* policy,
                        TunnelServer tunnel_server);
    virtual ~ConnectionInterface();
    ConnectionInterface(const ConnectionInterface&) = delete;
    ConnectionInterface& operator=(const ConnectionInterface&) = delete;

    virtual void setListener(ConnectionListener* listener);
    // Clears the listener only if it is `listener`.
    virtual void clearListener(ConnectionListener* listener);
    virtual void send(const std::string& message);
    // Sends only when that takes no waiting: no other send is under way and
    // the transport can take the message now (the tunnel queues it while it
    // is not yet through). Returns false, with nothing sent, otherwise. Meant
    // for short messages such as a keep-alive from a thread that must not
    // block.
    virtual bool trySend(const std::string& message);
    // A non-zero local port is shifted by this connection's random offset.
    // The outcome goes to the listener's onConnectResult and connected().
    virtual void open(uint16_t local_port, uint16_t remote_port, const std::string& remote_host,
                      bool start_receiver);
    virtual void close();

    bool connected() const { return connected_; }
    bool receiving() const { return receiving_; }
    bool uses_tunnel() const { return tunnel_plain_ || tunnel_connect_; }
    bool tunnel_connect_mode() const { return tunnel_connect_; }
    uint16_t local_port_offset() const { return local_port_offset_; }
    // The local port the UDP socket is bound to (0 for TCP and tunnels).
    uint16_t bound_port();
    // The tunnel, when this connection goes through one (the caller may read
    // its relay port).
    std::shared_ptr<TunnelConnection> tunnel();

protected:
    // For test doubles that script a connection: no transport at all.
    ConnectionInterface();

private:
    struct Transports {
        std::shared_ptr<TunnelConnection> tunnel;
        std::shared_ptr<TcpSocket> tcp;
        std::shared_ptr<UdpSocket> udp;
    };
    Transports transports();
    void shutdown_transports();
    void join_receiver();
    void receive_loop();

    platform::NamedMutex receive_mutex_;
    platform::NamedMutex send_mutex_;
    platform::NamedMutex connect_mutex_;
    const bool scramble_ = false;
    const bool use_tcp_ = false;
    TransportPolicy* const policy_ = nullptr;
    std::atomic<bool> tunnel_plain_{false};
    std::atomic<bool> tunnel_connect_{false};
    const std::string local_address_;
    SocketErrorCallback on_error_;
    TunnelServer tunnel_server_;
    uint16_t local_port_offset_ = 0;

    std::atomic<bool> receiving_{false};
    std::atomic<bool> connected_{false};

    std::mutex state_mutex_; // transports, closes_, loop_running_, receive thread
    std::condition_variable loop_ended_;
    Transports transports_;
    uint64_t closes_ = 0; // close() calls so far: an open that saw fewer is void
    bool loop_running_ = false;
    platform::Thread receiver_;

    std::mutex listener_mutex_;
    ConnectionListener* listener_ = nullptr;
};

} // namespace vokar
