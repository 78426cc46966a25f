#include "base/disposal_queue.h"

namespace vokar {

// A reference held until its time has come.
struct DisposalQueue::Held final : TimerListener {
    Held(std::shared_ptr<void> o, platform::Clock& c, uint32_t delay_ms)
        : object(std::move(o)), clock(c), due(c.tick_count() + delay_ms)
    {
    }
    void onTimer() override {}
    bool isDisposable() override { return static_cast<int32_t>(clock.tick_count() - due) >= 0; }

    std::shared_ptr<void> object;
    platform::Clock& clock;
    const uint32_t due;
};

DisposalQueue::DisposalQueue(Reactor& reactor)
    : reactor_(reactor), thread_([this] { run(); }), timer_(reactor, this, 100000)
{
    timer_.start();
}

DisposalQueue::~DisposalQueue()
{
    timer_.stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& object : waiting_)
            deleting_.push_back(std::move(object));
        waiting_.clear();
    }
    cv_.notify_one();
    thread_.join();
}

void DisposalQueue::add(std::unique_ptr<TimerListener> object)
{
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            waiting_.push_back(std::move(object));
            return;
        }
        deleting_.push_back(std::move(object));
    }
    cv_.notify_one();
}

void DisposalQueue::release_after(std::shared_ptr<void> object, uint32_t delay_ms)
{
    if (!object)
        return;
    auto held = std::make_unique<Held>(std::move(object), reactor_.clock(), delay_ms);
    if (delay_ms == 0)
        delete_soon(std::move(held)); // no sweep to wait for
    else
        add(std::move(held));
}

void DisposalQueue::delete_soon(std::unique_ptr<TimerListener> object)
{
    {
        std::lock_guard lock(mutex_);
        deleting_.push_back(std::move(object));
    }
    cv_.notify_one();
}

size_t DisposalQueue::size()
{
    std::lock_guard lock(mutex_);
    return waiting_.size() + deleting_.size();
}

void DisposalQueue::onTimer()
{
    bool handed = false;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = waiting_.size(); i-- > 0;) {
            if (!waiting_[i] || waiting_[i]->isDisposable()) {
                deleting_.push_back(std::move(waiting_[i]));
                waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(i));
                handed = true;
            }
        }
    }
    if (handed)
        cv_.notify_one();
}

void DisposalQueue::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || !deleting_.empty(); });
        if (deleting_.empty())
            return; // stopping, and nothing is left
        std::vector<std::unique_ptr<TimerListener>> batch;
        batch.swap(deleting_);
        // Deleted outside the lock: a destructor may hand further objects over.
        lock.unlock();
        batch.clear();
        lock.lock();
    }
}

} // namespace vokar
