#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/reactor.h"
#include "platform/thread.h"

namespace vokar {

// Frees objects that other threads may still be using. An object handed over
// is asked isDisposable() at every sweep (every 100 ms on the reactor) and
// deleted once it says yes. Deleting happens on the queue's own disposal
// thread, never on the reactor thread or the caller's, so a destructor may
// join threads and wait for them.
//
// The program's wiring creates one queue and hands it to whoever disposes of
// objects; it must outlive every object handed to it.
class DisposalQueue final : public TimerListener {
public:
    explicit DisposalQueue(Reactor& reactor);
    // Stops the sweep and deletes whatever is still queued, disposable or not,
    // on the disposal thread; returns once that thread has ended.
    ~DisposalQueue() override;
    DisposalQueue(const DisposalQueue&) = delete;
    DisposalQueue& operator=(const DisposalQueue&) = delete;

    // The queue now owns the object. A null object is dropped at the next sweep.
    void add(std::unique_ptr<TimerListener> object);

    // Shares `object` so that it is deleted on the disposal thread when the
    // last reference goes, whichever thread drops it.
    template <class T> std::shared_ptr<T> share(std::unique_ptr<T> object)
    {
        return std::shared_ptr<T>(object.release(), [this](T* p) {
            delete_soon(std::make_unique<Owned<T>>(std::unique_ptr<T>(p)));
        });
    }

    // Keeps a reference to `object` for `delay_ms` of the reactor's clock,
    // then lets it go (with no delay, at once, on the disposal thread). With
    // an object made by share(), it is deleted on the disposal thread once
    // that reference and every other one are gone.
    void release_after(std::shared_ptr<void> object, uint32_t delay_ms);

    // Objects waiting to become disposable or to be deleted.
    size_t size();

    // The sweep (reactor thread): hands every disposable object to the
    // disposal thread, last to first.
    void onTimer() override;

private:
    template <class T> struct Owned final : TimerListener {
        explicit Owned(std::unique_ptr<T> o) : object(std::move(o)) {}
        void onTimer() override {}
        std::unique_ptr<T> object;
    };
    struct Held;

    void delete_soon(std::unique_ptr<TimerListener> object);
    void run();

    Reactor& reactor_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::unique_ptr<TimerListener>> waiting_;  // until disposable
    std::vector<std::unique_ptr<TimerListener>> deleting_; // for the disposal thread
    bool stopping_ = false;
    platform::Thread thread_;
    ReactorTimer timer_; // last: no sweep before the rest exists
};

} // namespace vokar
