#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vokar::operatord {

// One-threaded epoll loop: descriptor watches, one-shot timers, and work
// deferred to the end of the current round. Everything runs on the thread
// that calls run(). A callback may add or remove any watch or timer,
// including its own; objects whose callbacks may still be on the stack are
// freed through defer().
class EventLoop {
public:
    using IoCallback = std::function<void(uint32_t events)>;
    using WatchId = uint64_t;
    using TimerId = uint64_t;

    // Size of the shared read buffer (one UDP datagram fits).
    static constexpr size_t kScratchSize = 64 * 1024;

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // False when the epoll instance could not be created.
    bool ok() const { return epoll_fd_ >= 0; }

    // Calls `callback` with the epoll event bits while `fd` is ready for
    // `events` (level-triggered). Returns 0 on failure (errno set).
    WatchId watch(int fd, uint32_t events, IoCallback callback);
    bool modify(WatchId id, uint32_t events);
    // Stops watching; a pending event of this round is not delivered. The
    // caller still owns and closes the descriptor.
    void unwatch(WatchId id);

    TimerId add_timer(std::chrono::milliseconds delay, std::function<void()> callback);
    void cancel_timer(TimerId id);

    void defer(std::function<void()> work);

    // Something sizeable was freed (a connection closed): free memory goes
    // back to the system shortly, once for a whole burst of closes.
    void return_memory_soon();

    // Runs until stop(); false when waiting for events failed (errno set).
    bool run();
    void stop() { stopped_ = true; }

    // Read buffer shared by every handler; valid until the handler returns.
    char* scratch() { return scratch_.get(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Watch {
        int fd;
        IoCallback callback;
    };

    int next_timeout_ms() const;
    void run_due_timers();
    void run_deferred();

    int epoll_fd_ = -1;
    bool stopped_ = false;
    uint64_t next_id_ = 1;
    std::unordered_map<WatchId, std::shared_ptr<Watch>> watches_;
    std::map<std::pair<Clock::time_point, TimerId>, std::function<void()>> timers_;
    std::unordered_map<TimerId, Clock::time_point> timer_due_;
    std::vector<std::function<void()>> deferred_;
    std::unique_ptr<char[]> scratch_;
    TimerId memory_timer_ = 0;
};

} // namespace vokar::operatord
