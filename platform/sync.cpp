#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <map>

namespace vokar::platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<std::recursive_timed_mutex>, std::less<>> by_name;
};

Registry& registry()
{
    static Registry r;
    return r;
}

std::shared_ptr<std::recursive_timed_mutex> lookup(const std::string& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.by_name.begin(); it != r.by_name.end();)
        it = it->second.expired() ? r.by_name.erase(it) : std::next(it);
    auto& slot = r.by_name[name];
    auto existing = slot.lock();
    if (existing)
        return existing;
    auto created = std::make_shared<std::recursive_timed_mutex>();
    slot = created;
    return created;
}

}  // namespace

NamedMutex::NamedMutex(std::string name) : name_(std::move(name)), mutex_(lookup(name_)) {}

uint32_t NamedMutex::wait(uint32_t timeout_ms)
{
    if (timeout_ms == kInfinite) {
        mutex_->lock();
        return kWaitObject0;
    }
    return mutex_->try_lock_for(std::chrono::milliseconds(timeout_ms)) ? kWaitObject0
                                                                        : kWaitTimeout;
}

void NamedMutex::release() { mutex_->unlock(); }

bool NamedMutex::try_lock() { return mutex_->try_lock(); }

std::string NamedMutex::unique_name(std::string_view base)
{
    static std::atomic<uint64_t> counter{0};
    return std::string(base) + "_" + std::to_string(++counter);
}

void Event::set()
{
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
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

}  // namespace vokar::platform
