#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>

#include "tools/operator/loop/event_loop.h"

namespace vokar::operatord {

// The open connections of one service. A connection asks to be removed from
// inside its own callbacks, so removal is deferred to the end of the loop
// round; destroying the set closes whatever is still open.
template <class Connection> class ConnectionSet {
public:
    // Beyond this many open connections a service turns new clients away.
    static constexpr size_t kMaxConnections = 1024;

    explicit ConnectionSet(EventLoop& loop) : loop_(loop) {}
    ConnectionSet(const ConnectionSet&) = delete;
    ConnectionSet& operator=(const ConnectionSet&) = delete;

    bool full() const { return items_.size() >= kMaxConnections; }

    Connection& add(std::unique_ptr<Connection> connection)
    {
        Connection* raw = connection.get();
        items_.emplace(raw, std::move(connection));
        return *raw;
    }

    void remove(Connection* connection)
    {
        loop_.defer([this, connection] { items_.erase(connection); });
    }

private:
    EventLoop& loop_;
    std::unordered_map<Connection*, std::unique_ptr<Connection>> items_;
};

} // namespace vokar::operatord
