#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "tools/operator/loop/event_loop.h"

namespace vokar::operatord {

// Turns host names from clients into IPv4 addresses without blocking the
// loop: names are looked up on a worker thread, so a slow name server
// delays only the client that named it. Callbacks run on the loop thread,
// never from inside resolve(). At most kMaxQueued names wait for the
// worker; beyond that a name fails at once, so a flood of names cannot
// queue unbounded work or delay everyone else's lookups without end.
class Resolver {
public:
    using Callback = std::function<void(std::optional<in_addr> address)>;
    using RequestId = uint64_t;

    static constexpr size_t kMaxQueued = 64;

    explicit Resolver(EventLoop& loop);
    // Cancels everything; a lookup still in progress finishes on its own
    // and its result is dropped.
    ~Resolver();
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    RequestId resolve(const std::string& host, Callback callback);
    // The callback is not called; a name not yet taken by the worker is
    // dropped from the queue.
    void cancel(RequestId id);

private:
    struct Shared;

    void start_worker();
    void deliver(RequestId id, std::optional<in_addr> address);
    void on_results();

    EventLoop& loop_;
    std::shared_ptr<Shared> shared_;
    EventLoop::WatchId watch_ = 0;
    bool worker_started_ = false;
    RequestId next_id_ = 1;
    std::unordered_map<RequestId, Callback> pending_;
};

} // namespace vokar::operatord
