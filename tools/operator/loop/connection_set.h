#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "tools/operator/loop/event_loop.h"

namespace vokar::operatord {

// The open connections of one service, counted in all and per source
// address, so that one host cannot take every slot. A connection asks to be
// removed from inside its own callbacks, so removal is deferred to the end
// of the loop round; destroying the set closes whatever is still open.
template <class Connection> class ConnectionSet {
public:
    ConnectionSet(EventLoop& loop, size_t max_total, size_t max_per_source)
        : loop_(loop), max_total_(max_total), max_per_source_(max_per_source)
    {
    }
    ConnectionSet(const ConnectionSet&) = delete;
    ConnectionSet& operator=(const ConnectionSet&) = delete;

    // Whether a new client from `source` (an IPv4 address in network
    // order) may be taken.
    bool admits(uint32_t source) const
    {
        if (items_.size() >= max_total_)
            return false;
        const auto it = per_source_.find(source);
        return it == per_source_.end() || it->second < max_per_source_;
    }

    Connection& add(std::unique_ptr<Connection> connection, uint32_t source)
    {
        Connection* raw = connection.get();
        items_.emplace(raw, Item{std::move(connection), source});
        ++per_source_[source];
        return *raw;
    }

    void remove(Connection* connection)
    {
        loop_.defer([this, connection] {
            const auto it = items_.find(connection);
            if (it == items_.end())
                return;
            const auto count = per_source_.find(it->second.source);
            if (--count->second == 0)
                per_source_.erase(count);
            items_.erase(it);
            loop_.return_memory_soon();
        });
    }

    size_t size() const { return items_.size(); }

private:
    struct Item {
        std::unique_ptr<Connection> connection;
        uint32_t source;
    };

    EventLoop& loop_;
    const size_t max_total_;
    const size_t max_per_source_;
    std::unordered_map<Connection*, Item> items_;
    std::unordered_map<uint32_t, size_t> per_source_;
};

} // namespace vokar::operatord
