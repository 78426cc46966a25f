#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

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

} // namespace vokar
