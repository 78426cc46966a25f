#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "base/reactor.h"

namespace vokar {

// Objects that other threads may still be using are handed here instead of
// being deleted; every 100 ms each is asked isDisposable() and deleted once it
// says yes.
class DisposalQueue final : public TimerListener {
public:
    explicit DisposalQueue(Reactor& reactor);
    // Stops the sweep and deletes whatever is still queued.
    ~DisposalQueue() override;

    // The process-wide queue, created (on `reactor`) by the first call.
    static DisposalQueue& instance(Reactor& reactor);

    // The queue now owns the object. A null object is dropped at the next sweep.
    void add(std::unique_ptr<TimerListener> object);
    size_t size();

    // The sweep: last to first, deleting every object that is disposable.
    void onTimer() override;

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<TimerListener>> objects_;
    ReactorTimer timer_;
};

} // namespace vokar
