#include "tools/operator/services/rate_limiter.h"

namespace vokar::operatord {

bool RateLimiter::allow(const std::string& key, int64_t now)
{
    if (events_.size() >= kMaxKeys || now - last_sweep_ >= window_)
        sweep(now);
    auto it = events_.find(key);
    if (it == events_.end()) {
        if (events_.size() >= kMaxKeys || max_events_ == 0)
            return false;
        it = events_.emplace(key, std::deque<int64_t>()).first;
    }
    auto& times = it->second;
    while (!times.empty() && times.front() <= now - window_)
        times.pop_front();
    if (times.size() >= max_events_)
        return false;
    times.push_back(now);
    return true;
}

void RateLimiter::sweep(int64_t now)
{
    last_sweep_ = now;
    for (auto it = events_.begin(); it != events_.end();) {
        auto& times = it->second;
        while (!times.empty() && times.front() <= now - window_)
            times.pop_front();
        it = times.empty() ? events_.erase(it) : std::next(it);
    }
}

bool ReplayGuard::seen(const std::string& value, int64_t now)
{
    expire(now);
    return when_.contains(value);
}

void ReplayGuard::remember(const std::string& value, int64_t now)
{
    expire(now);
    if (!when_.emplace(value, now).second)
        return;
    order_.emplace_back(now, value);
    if (order_.size() > kMaxEntries) {
        when_.erase(order_.front().second);
        order_.pop_front();
    }
}

void ReplayGuard::expire(int64_t now)
{
    while (!order_.empty() && order_.front().first <= now - window_) {
        when_.erase(order_.front().second);
        order_.pop_front();
    }
}

} // namespace vokar::operatord
