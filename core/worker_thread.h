#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/thread.h"

namespace vokar {

// A thread that runs posted tasks one at a time, in the order posted.
class WorkerThread {
public:
    WorkerThread();
    // stop().
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // False (and the task is dropped on the caller's thread) once stopping.
    bool post(std::function<void()> task);
    // Refuses later posts, lets the queued tasks run (they can check
    // stopping() to cut long waits short) and waits for the thread to end.
    void stop();
    bool stopping() const { return stopping_; }
    bool is_current() const { return thread_.is_current(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    std::atomic<bool> stopping_{false};
    platform::Thread thread_;
};

// Frees `object` on `worker` after `delay_ms` of `clock`, once no other thread
// holds a reference to it. Used for protocol objects whose threads may still
// be inside them: the worker, never the GUI or a receive thread, waits.
template <class T>
void dispose_later(WorkerThread& worker, platform::Clock& clock, std::shared_ptr<T> object,
                   uint32_t delay_ms)
{
    if (!object)
        return;
    auto task = [&worker, &clock, object = std::move(object), delay_ms]() mutable {
        if (delay_ms && !worker.stopping())
            clock.sleep_ms(delay_ms);
        while (object.use_count() > 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        object.reset();
    };
    worker.post(std::move(task));
}

} // namespace vokar
