#include "core/worker_thread.h"

namespace vokar {

WorkerThread::WorkerThread() : thread_([this] { run(); }) {}

WorkerThread::~WorkerThread()
{
    stop();
}

bool WorkerThread::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return false;
        tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
    return true;
}

void WorkerThread::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_one();
    thread_.join();
}

void WorkerThread::run()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace vokar
