#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <map>

namespace vokar::platform {

// A recursive lock with timed waits, built on a plain mutex and a condition
// variable (so that thread checkers see every acquisition).
struct NamedMutex::Lock {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    unsigned depth = 0;

    bool acquire(uint32_t timeout_ms)
    {
        const auto self = std::this_thread::get_id();
        std::unique_lock lock(mutex);
        if (depth > 0 && owner == self) {
            ++depth;
            return true;
        }
        const auto free = [this] { return depth == 0; };
        if (timeout_ms == kInfinite)
            released.wait(lock, free);
        else if (!released.wait_for(lock, std::chrono::milliseconds(timeout_ms), free))
            return false;
        owner = self;
        depth = 1;
        return true;
    }

    void release()
    {
        {
            std::lock_guard lock(mutex);
            if (depth == 0 || owner != std::this_thread::get_id())
                return; // not held by this thread: nothing to release
            if (--depth > 0)
                return;
            owner = {};
        }
        released.notify_one();
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<NamedMutex::Lock>, std::less<>> by_name;
};

Registry& registry()
{
    static Registry r;
    return r;
}

std::shared_ptr<NamedMutex::Lock> lookup(const std::string& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.by_name.begin(); it != r.by_name.end();)
        it = it->second.expired() ? r.by_name.erase(it) : std::next(it);
    auto& slot = r.by_name[name];
    auto existing = slot.lock();
    if (existing)
        return existing;
    auto created = std::make_shared<NamedMutex::Lock>();
    slot = created;
    return created;
}

} // namespace

NamedMutex::NamedMutex(std::string name) : name_(std::move(name)), mutex_(lookup(name_)) {}

uint32_t NamedMutex::wait(uint32_t timeout_ms)
{
    return mutex_->acquire(timeout_ms) ? kWaitObject0 : kWaitTimeout;
}

void NamedMutex::release()
{
    mutex_->release();
}

bool NamedMutex::try_lock()
{
    return mutex_->acquire(0);
}

std::string NamedMutex::unique_name(std::string_view base)
{
    static std::atomic<uint64_t> counter{0};
    return std::string(base) + "_" + std::to_string(++counter);
}

void Event::set()
{
    // Notify under the lock: a waiter may destroy the event as soon as its
    // wait returns.
    std::lock_guard lock(mutex_);
    set_ = true;
    if (manual_reset_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::wait(uint32_t timeout_ms)
{
    std::unique_lock lock(mutex_);
    if (timeout_ms == kInfinite)
        cv_.wait(lock, [this] { return set_; });
    else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return set_; }))
        return false;
    if (!manual_reset_)
        set_ = false;
    return true;
}

} // namespace vokar::platform
