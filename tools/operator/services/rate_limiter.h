#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

namespace vokar::operatord {

// At most `max_events` per key within any `window` seconds. Memory stays
// bounded: keys whose events have all expired are dropped, and beyond
// kMaxKeys live keys a new key is refused until some expire. One thread.
class RateLimiter {
public:
    static constexpr size_t kMaxKeys = 100000;

    RateLimiter(size_t max_events, int64_t window) : max_events_(max_events), window_(window) {}

    // Records an event for `key` at `now` (seconds) when it is within the
    // limit; false, recording nothing, when it is not.
    bool allow(const std::string& key, int64_t now);

private:
    void sweep(int64_t now);

    size_t max_events_;
    int64_t window_;
    std::unordered_map<std::string, std::deque<int64_t>> events_;
    int64_t last_sweep_ = 0;
};

// Remembers values (auth digests) for `window` seconds, so a request sent
// again within it can be told apart. At most kMaxEntries are kept; the
// oldest go first.
class ReplayGuard {
public:
    static constexpr size_t kMaxEntries = 100000;

    explicit ReplayGuard(int64_t window) : window_(window) {}

    bool seen(const std::string& value, int64_t now);
    void remember(const std::string& value, int64_t now);

private:
    void expire(int64_t now);

    int64_t window_;
    std::deque<std::pair<int64_t, std::string>> order_;
    std::unordered_map<std::string, int64_t> when_;
};

} // namespace vokar::operatord
