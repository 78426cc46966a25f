#include "tools/operator/loop/event_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "tools/operator/loop/memory.h"

namespace vokar::operatord {

EventLoop::EventLoop() : epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)), scratch_(new char[kScratchSize])
{
}

EventLoop::~EventLoop()
{
    if (epoll_fd_ >= 0)
        ::close(epoll_fd_);
}

EventLoop::WatchId EventLoop::watch(int fd, uint32_t events, IoCallback callback)
{
    const WatchId id = next_id_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0)
        return 0;
    watches_.emplace(id, std::make_shared<Watch>(Watch{fd, std::move(callback)}));
    return id;
}

bool EventLoop::modify(WatchId id, uint32_t events)
{
    const auto it = watches_.find(id);
    if (it == watches_.end())
        return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    return ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, it->second->fd, &ev) == 0;
}

void EventLoop::unwatch(WatchId id)
{
    const auto it = watches_.find(id);
    if (it == watches_.end())
        return;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
    watches_.erase(it);
}

EventLoop::TimerId EventLoop::add_timer(std::chrono::milliseconds delay,
                                        std::function<void()> callback)
{
    const TimerId id = next_id_++;
    const auto due = Clock::now() + delay;
    timers_.emplace(std::make_pair(due, id), std::move(callback));
    timer_due_.emplace(id, due);
    return id;
}

void EventLoop::cancel_timer(TimerId id)
{
    const auto it = timer_due_.find(id);
    if (it == timer_due_.end())
        return;
    timers_.erase(std::make_pair(it->second, id));
    timer_due_.erase(it);
}

void EventLoop::return_memory_soon()
{
    if (memory_timer_)
        return;
    memory_timer_ = add_timer(std::chrono::milliseconds(200), [this] {
        memory_timer_ = 0;
        return_free_memory();
    });
}

void EventLoop::defer(std::function<void()> work)
{
    deferred_.push_back(std::move(work));
}

int EventLoop::next_timeout_ms() const
{
    if (!deferred_.empty())
        return 0;
    if (timers_.empty())
        return -1;
    const auto wait = timers_.begin()->first.first - Clock::now();
    if (wait <= Clock::duration::zero())
        return 0;
    // Round up so a timer is never woken for just before it falls due.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void EventLoop::run_due_timers()
{
    const auto now = Clock::now();
    while (!timers_.empty() && timers_.begin()->first.first <= now) {
        auto node = timers_.extract(timers_.begin());
        timer_due_.erase(node.key().second);
        node.mapped()();
    }
}

void EventLoop::run_deferred()
{
    while (!deferred_.empty()) {
        auto work = std::move(deferred_);
        deferred_.clear();
        for (auto& w : work)
            w();
    }
}

bool EventLoop::run()
{
    constexpr int kMaxEvents = 64;
    epoll_event events[kMaxEvents];
    while (!stopped_) {
        const int n = ::epoll_wait(epoll_fd_, events, kMaxEvents, next_timeout_ms());
        if (n < 0 && errno != EINTR)
            return false;
        for (int i = 0; i < n && !stopped_; ++i) {
            // epoll_event is packed: copy the id out rather than bind to it.
            const WatchId id = events[i].data.u64;
            const auto it = watches_.find(id);
            if (it == watches_.end())
                continue; // removed earlier in this round
            // Keep the callback alive even if it removes its own watch.
            const std::shared_ptr<Watch> watch = it->second;
            watch->callback(events[i].events);
        }
        run_due_timers();
        run_deferred();
    }
    return true;
}

} // namespace vokar::operatord
