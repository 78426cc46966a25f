#include "base/disposal_queue.h"

namespace vokar {

DisposalQueue::DisposalQueue(Reactor& reactor) : timer_(reactor, this, 100000)
{
    timer_.start();
}

DisposalQueue::~DisposalQueue()
{
    timer_.stop();
}

DisposalQueue& DisposalQueue::instance(Reactor& reactor)
{
    // Never destroyed: the reactor thread may sweep until the process ends.
    static DisposalQueue* queue = new DisposalQueue(reactor);
    return *queue;
}

void DisposalQueue::add(std::unique_ptr<TimerListener> object)
{
    std::lock_guard lock(mutex_);
    objects_.push_back(std::move(object));
}

size_t DisposalQueue::size()
{
    std::lock_guard lock(mutex_);
    return objects_.size();
}

void DisposalQueue::onTimer()
{
    std::vector<std::unique_ptr<TimerListener>> finished;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = objects_.size(); i-- > 0;) {
            if (!objects_[i] || objects_[i]->isDisposable()) {
                finished.push_back(std::move(objects_[i]));
                objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    // Deleted outside the lock: a destructor may hand another object to the queue.
}

} // namespace vokar
