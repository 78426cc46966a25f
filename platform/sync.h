#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace vokar::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0;   // a wait obtained the object
constexpr uint32_t kWaitTimeout = 258; // a wait timed out

// A recursive mutex looked up by name: every NamedMutex constructed with the
// same name in this process shares one lock. Objects that can exist more than
// once in a process build their name with unique_name() so that two instances
// never share a lock.
class NamedMutex {
public:
    explicit NamedMutex(std::string name);
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Waits up to timeout_ms (kInfinite: no limit). Returns kWaitObject0 when
    // the mutex was obtained, kWaitTimeout otherwise.
    uint32_t wait(uint32_t timeout_ms = kInfinite);
    void release();

    // BasicLockable, so std::lock_guard and std::unique_lock work.
    void lock() { wait(); }
    void unlock() { release(); }
    bool try_lock();

    const std::string& name() const { return name_; }

    // base followed by "_" and a number never handed out before in this process.
    static std::string unique_name(std::string_view base);

    struct Lock; // the shared recursive lock behind a name

private:
    std::string name_;
    std::shared_ptr<Lock> mutex_;
};

// A manual- or auto-reset event.
class Event {
public:
    explicit Event(bool manual_reset = false, bool initially_set = false)
        : manual_reset_(manual_reset), set_(initially_set)
    {
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // True when the event was signalled within timeout_ms. An auto-reset event
    // is cleared by the wait that sees it.
    bool wait(uint32_t timeout_ms = kInfinite);

private:
    const bool manual_reset_;
    bool set_;
    std::mutex mutex_;
    std::condition_variable cv_;
};

} // namespace vokar::platform
