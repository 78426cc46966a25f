#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace vokar {

// The program's timer service: one thread that runs callbacks when they fall
// due, once or repeatedly. Callbacks run one at a time on the reactor thread
// while it holds the queue mutex; the mutex is recursive, so a callback may
// schedule or cancel.
class Reactor {
public:
    using Callback = void (*)(void*);

    // Seeds the shared random generator (once per process) and, unless told
    // otherwise, starts the reactor thread. Without a thread, run_due() drives
    // the queue; tests use that with a ManualClock.
    explicit Reactor(platform::Clock& clock = platform::system_clock(), bool start_thread = true);
    // Ends the loop and joins the thread. The program never destroys its
    // reactor; tests do.
    ~Reactor();
    Reactor(const Reactor&) = delete;
    Reactor& operator=(const Reactor&) = delete;

    // Runs `callback(argument)` interval_ms from now, then every interval_ms
    // (counted from the end of the previous run) when `repeat` is set. Returns
    // a non-zero id that no other queued entry holds.
    int32_t schedule(Callback callback, void* argument, uint32_t interval_ms, bool repeat);
    int32_t schedule(std::function<void()> callback, uint32_t interval_ms, bool repeat);

    // Removes the entry with this id (a running repeating entry is not
    // rescheduled). Waits at most 300 ms for the queue; returns
    // platform::kWaitObject0 when it got the queue, kWaitTimeout otherwise.
    uint32_t cancel(int32_t id);

    // One pass of the loop: runs every entry whose due time has passed.
    // Returns the number of callbacks run.
    size_t run_due();

    size_t pending();
    platform::Clock& clock() { return clock_; }

private:
    struct Entry {
        std::function<void()> callback;
        uint32_t due = 0;
        uint32_t interval = 0;
        int32_t id = 0;
        bool repeat = false;
    };

    void insert(std::unique_ptr<Entry> entry);
    int32_t unused_id();
    void loop();

    platform::Clock& clock_;
    platform::NamedMutex thread_mutex_;
    platform::NamedMutex queue_mutex_;
    std::vector<std::unique_ptr<Entry>> queue_; // by due time, earliest first
    int32_t running_id_ = 0;                    // entry whose callback runs now
    bool running_cancelled_ = false;
    std::atomic<bool> running_{true};
    platform::Event wake_;
    platform::Thread thread_;
};

// Implemented by owners of a ReactorTimer and by objects handed to the
// DisposalQueue.
class TimerListener {
public:
    virtual ~TimerListener() = default;
    virtual void onTimer() = 0;
    // The object may now be deleted.
    virtual bool isDisposable() { return true; }
};

// A restartable repeating timer that calls its handler's onTimer on the
// reactor thread. Once stop() has returned, no tick reaches the handler, even
// when the reactor's queue could not be had within its cancel time-out: the
// handler is reached through a small control block that stop() switches off
// and that lives as long as the reactor entry holds it.
class ReactorTimer {
public:
    ReactorTimer(Reactor& reactor, TimerListener* handler, int32_t interval_us);
    ~ReactorTimer();
    ReactorTimer(const ReactorTimer&) = delete;
    ReactorTimer& operator=(const ReactorTimer&) = delete;

    // Takes effect at the next start().
    void setInterval(int32_t interval_us);
    void start();
    // Safe from inside the handler's onTimer; waits for a tick running on
    // another thread to finish.
    void stop();
    // True from start() until stop().
    bool isStarted() const { return started_; }

private:
    struct Control {
        std::recursive_mutex mutex;
        TimerListener* handler = nullptr;
        bool cancelled = false;
        int32_t entry_id = 0;
    };
    void switch_off();

    Reactor& reactor_;
    TimerListener* const handler_;
    int32_t interval_ms_;
    std::atomic<bool> started_{false};
    int32_t entry_id_ = 0;
    std::shared_ptr<Control> control_;
};

} // namespace vokar
