#include "net/connection_interface.h"

#include "base/random.h"
#include "base/scramble.h"
#include "platform/crt_rand.h"

namespace vokar {
namespace {

constexpr uint32_t kCloseWaitMs = 300;
constexpr uint32_t kReceiverExitWaitMs = 1000;

// Per-datagram failures that a UDP receive loop survives: an ICMP error for
// an earlier datagram (reported on the connected socket), a datagram too
// large, or momentary buffer shortage.
bool transient_udp_error(int error)
{
    switch (error) {
    case platform::kWsaOk: // an empty datagram
    case platform::kWsaEconnrefused:
    case platform::kWsaEconnreset:
    case platform::kWsaEmsgsize:
    case platform::kWsaEnobufs:
    case platform::kWsaEnetunreach:
    case platform::kWsaEhostunreach:
    case platform::kWsaEhostdown:
    case platform::kWsaEnetdown:
    case platform::kWsaEtimedout:
    case platform::kWsaEintr:
        return true;
    default:
        return false;
    }
}

} // namespace

ConnectionInterface::ConnectionInterface()
    : receive_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_RECEIVE")),
      send_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_SEND")),
      connect_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_CONNECT"))
{
}

ConnectionInterface::ConnectionInterface(std::string local_address, bool use_tcp, bool scramble,
                                         SocketErrorCallback on_error, TransportPolicy* policy,
                                         TunnelServer tunnel_server)
    : receive_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_RECEIVE")),
      send_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_SEND")),
      connect_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_INTERFACE_CONNECT")),
      scramble_(scramble), use_tcp_(use_tcp), policy_(policy),
      local_address_(std::move(local_address)), on_error_(std::move(on_error)),
      tunnel_server_(std::move(tunnel_server))
{
    if (policy && policy->needsTunnel(use_tcp)) {
        tunnel_connect_ = policy->prefersConnect();
        tunnel_plain_ = !tunnel_connect_;
    }
    seed_random_once();
    local_port_offset_ =
        static_cast<uint16_t>(platform::crt_rand() % 1000 + platform::crt_rand() % 1000);
}

ConnectionInterface::~ConnectionInterface()
{
    close();
    // Wait, without limit, for a receive thread still inside a listener and
    // for an open still running on another thread.
    join_receiver();
    std::lock_guard wait_open(connect_mutex_);
}

void ConnectionInterface::setListener(ConnectionListener* listener)
{
    std::lock_guard lock(listener_mutex_);
    listener_ = listener;
}

void ConnectionInterface::clearListener(ConnectionListener* listener)
{
    std::lock_guard lock(listener_mutex_);
    if (listener_ == listener)
        listener_ = nullptr;
}

ConnectionInterface::Transports ConnectionInterface::transports()
{
    std::lock_guard lock(state_mutex_);
    return transports_;
}

uint16_t ConnectionInterface::bound_port()
{
    const auto t = transports();
    return t.udp ? t.udp->bound_port() : 0;
}

std::shared_ptr<TunnelConnection> ConnectionInterface::tunnel()
{
    return transports().tunnel;
}

void ConnectionInterface::send(const std::string& message)
{
    std::lock_guard lock(send_mutex_);
    const Transports t = transports();
    if (!t.tunnel && !t.tcp && !t.udp)
        return;
    const std::string bytes = scramble_ ? scramble(message) : message;
    if (t.tunnel)
        t.tunnel->send(bytes.data(), bytes.size());
    else if (use_tcp_ && t.tcp)
        t.tcp->send(bytes.data(), bytes.size());
    else if (t.udp)
        t.udp->send(bytes.data(), bytes.size());
}

bool ConnectionInterface::trySend(const std::string& message)
{
    if (send_mutex_.wait(0) != platform::kWaitObject0)
        return false;
    std::lock_guard lock(send_mutex_, std::adopt_lock);
    bool sent = false;
    const Transports t = transports();
    const std::string bytes = scramble_ ? scramble(message) : message;
    if (t.tunnel)
        sent = t.tunnel->try_send(bytes.data(), bytes.size());
    else if (use_tcp_ && t.tcp)
        sent = t.tcp->can_send_now(bytes.size()) && t.tcp->send(bytes.data(), bytes.size());
    else if (t.udp)
        sent = t.udp->can_send_now(bytes.size()) && t.udp->send(bytes.data(), bytes.size());
    return sent;
}

void ConnectionInterface::open(uint16_t local_port, uint16_t remote_port,
                               const std::string& remote_host, bool start_receiver)
{
    bool ok = false;
    uint64_t closes_before;
    {
        // A close() from now on wins over this open, even one that comes
        // while the open waits for an earlier open or receive thread.
        std::lock_guard state(state_mutex_);
        closes_before = closes_;
    }
    {
        std::lock_guard lock(connect_mutex_);
        // A new open replaces the previous transport and its receive loop.
        shutdown_transports();
        join_receiver();
        if (local_port != 0)
            local_port = static_cast<uint16_t>(local_port + local_port_offset_);

        if (!uses_tunnel() && use_tcp_ && policy_ && policy_->tunnelsService(remote_port, true)) {
            tunnel_connect_ = policy_->prefersConnect();
            tunnel_plain_ = !tunnel_connect_;
        }
        // The direct connect's error, for the policy.
        auto connect_error = std::make_shared<std::atomic<int>>(0);
        Transports t;
        if (uses_tunnel())
            t.tunnel = std::make_shared<TunnelConnection>(
                use_tcp_ ? TunnelConnection::kRelayTcp : TunnelConnection::kRelayUdp, local_port,
                remote_port, local_address_, on_error_, tunnel_connect_, tunnel_server_);
        else if (use_tcp_)
            t.tcp = std::make_shared<TcpSocket>(
                local_port, remote_port, local_address_,
                [connect_error, on_error = on_error_](int kind, int error) {
                    if (kind == kSocketErrorConnect)
                        *connect_error = error;
                    if (on_error)
                        on_error(kind, error);
                });
        else
            t.udp = std::make_shared<UdpSocket>(local_port, remote_port, local_address_, on_error_);
        bool closed;
        {
            // Once the transports are published, a close() shuts them down.
            std::lock_guard state(state_mutex_);
            closed = closes_ != closes_before;
            if (!closed)
                transports_ = t;
        }
        if (closed)
            ok = false;
        else if (t.tunnel)
            ok = t.tunnel->connect(remote_host);
        else if (t.tcp)
            ok = t.tcp->connect(remote_host);
        else
            ok = t.udp->open(remote_host);
        if (t.tcp && policy_ && (ok || *connect_error != 0))
            policy_->directConnectResult(remote_port, true, ok ? 0 : connect_error->load());

        std::lock_guard state(state_mutex_);
        if (closes_ != closes_before)
            ok = false; // closed while connecting
        connected_ = ok;
        if (ok && start_receiver) {
            receiving_ = true;
            loop_running_ = true;
            receiver_ = platform::Thread([this] { receive_loop(); },
                                         platform::Thread::Priority::AboveNormal);
        }
    }
    ConnectionListener* listener;
    {
        std::lock_guard lock(listener_mutex_);
        listener = listener_;
    }
    if (listener)
        listener->onConnectResult(ok ? 0 : 1);
}

void ConnectionInterface::receive_loop()
{
    bool lost = false;
    {
        std::lock_guard hold(receive_mutex_);
        std::string chunk;
        while (receiving_) {
            const Transports t = transports();
            int count;
            if (t.tunnel) {
                count = t.tunnel->receive(&chunk, kChunkSize, false);
            } else if (use_tcp_ && t.tcp) {
                count = t.tcp->receive(&chunk, kChunkSize);
            } else if (t.udp) {
                count = t.udp->receive(&chunk, kChunkSize);
                // One empty datagram or one ICMP error must not end the loop.
                if (count <= 0 && receiving_ && t.udp->is_open() &&
                    transient_udp_error(t.udp->last_result()))
                    continue;
            } else {
                break;
            }
            if (count <= 0) {
                lost = receiving_; // not ended by close(): the peer or network went away
                break;
            }
            std::string text;
            bool broken = false;
            if (scramble_) {
                text = unscramble(chunk);
            } else {
                const auto zero = chunk.find('\0');
                text = zero == std::string::npos ? std::move(chunk) : chunk.substr(0, zero);
                // A datagram is only cut. A byte stream never carries a zero
                // byte: the bytes after it would be read out of step, so the
                // text before it is the last, and the stream counts as lost.
                broken = zero != std::string::npos && use_tcp_;
            }
            ConnectionListener* listener;
            {
                std::lock_guard lock(listener_mutex_);
                listener = listener_;
            }
            if (listener && !(broken && text.empty()))
                listener->onReceive(text);
            if (broken) {
                lost = receiving_;
                break;
            }
        }
        receiving_ = false;
    }
    if (lost) {
        // After a broken stream the socket may still be open: end it, so the
        // peer sees the close and nothing more is read.
        shutdown_transports();
        connected_ = false;
        ConnectionListener* listener;
        {
            std::lock_guard lock(listener_mutex_);
            listener = listener_;
        }
        if (listener)
            listener->onConnectResult(1);
    }
    std::lock_guard state(state_mutex_);
    loop_running_ = false;
    loop_ended_.notify_all();
}

void ConnectionInterface::shutdown_transports()
{
    std::lock_guard state(state_mutex_);
    receiving_ = false;
    if (transports_.tunnel)
        transports_.tunnel->stop();
    if (transports_.udp)
        transports_.udp->close();
    if (transports_.tcp)
        transports_.tcp->close();
}

void ConnectionInterface::join_receiver()
{
    platform::Thread receiver;
    {
        std::lock_guard state(state_mutex_);
        if (receiver_.is_current())
            return; // a thread never waits for itself
        receiver = std::move(receiver_);
    }
    receiver.join();
}

void ConnectionInterface::close()
{
    bool on_receiver;
    {
        std::lock_guard state(state_mutex_);
        ++closes_;
        on_receiver = receiver_.is_current();
    }
    shutdown_transports();
    connected_ = false;
    // Let a running receive loop, send or open finish, briefly.
    for (platform::NamedMutex* m : {&receive_mutex_, &send_mutex_, &connect_mutex_})
        if (m->wait(kCloseWaitMs) == platform::kWaitObject0)
            m->release();
    // Free the sockets once the receive thread has left them; a thread held up
    // in its listener keeps them until the destructor joins it.
    {
        std::unique_lock state(state_mutex_);
        if (on_receiver ||
            !loop_ended_.wait_for(state, std::chrono::milliseconds(kReceiverExitWaitMs),
                                  [this] { return !loop_running_; }))
            return;
    }
    join_receiver();
    std::lock_guard state(state_mutex_);
    if (!receiver_.joinable())
        transports_ = {};
}

} // namespace vokar
