#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/connection_interface.h"
#include "net/network_monitor.h"

namespace vokar {

// Whether a bearer is up, and the local address that sockets bind to.
class Bearer {
public:
    virtual ~Bearer() = default;
    virtual bool connected() const = 0;
    virtual std::string local_address() const = 0;
};

class MonitorBearer final : public Bearer {
public:
    explicit MonitorBearer(const NetworkMonitor& monitor) : monitor_(monitor) {}
    bool connected() const override { return monitor_.connected(); }
    std::string local_address() const override { return monitor_.local_address(); }

private:
    const NetworkMonitor& monitor_;
};

// Makes the connection a phone hands to its protocol engine.
using ConnectionFactory = std::function<std::unique_ptr<ConnectionInterface>(
    const std::string& local_address, bool use_tcp, bool scramble, SocketErrorCallback on_error)>;

// Real connections, direct or through the tunnel as `policy` decides.
inline ConnectionFactory make_connection_factory(TransportPolicy* policy, TunnelServer tunnel)
{
    return [policy, tunnel](const std::string& local_address, bool use_tcp, bool scramble,
                            SocketErrorCallback on_error) {
        return std::make_unique<ConnectionInterface>(local_address, use_tcp, scramble,
                                                     std::move(on_error), policy, tunnel);
    };
}

} // namespace vokar
