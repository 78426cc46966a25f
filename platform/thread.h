#pragma once

#include <functional>
#include <thread>

namespace vokar::platform {

// A worker thread. Priorities are hints that this platform may ignore.
// Destroying (or assigning over) a Thread that is still joinable joins it, so
// an owner can never free state that its thread is still using; only when
// that runs on the thread itself, which cannot wait for itself, is it detached.
class Thread {
public:
    enum class Priority { Idle, Lowest, BelowNormal, Normal, AboveNormal, Highest, TimeCritical };

    Thread() = default;
    explicit Thread(std::function<void()> body, Priority priority = Priority::Normal);
    ~Thread();
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool joinable() const { return thread_.joinable(); }
    // Waits for the thread to end; nothing when it is not joinable. From the
    // thread itself this throws std::system_error (resource_deadlock_would_occur)
    // and the thread stays joinable: a thread never waits for itself.
    void join();
    void detach();
    bool is_current() const { return thread_.get_id() == std::this_thread::get_id(); }
    Priority priority() const { return priority_; }

private:
    // Joins, or detaches on the thread itself; for the destructor and assignment.
    void finish() noexcept;

    std::thread thread_;
    Priority priority_ = Priority::Normal;
};

} // namespace vokar::platform
