#include "platform/thread.h"

#include <system_error>

namespace vokar::platform {

Thread::Thread(std::function<void()> body, Priority priority)
    : thread_(std::move(body)), priority_(priority)
{
}

Thread::~Thread()
{
    finish();
}

Thread& Thread::operator=(Thread&& other) noexcept
{
    if (this != &other) {
        finish();
        thread_ = std::move(other.thread_);
        priority_ = other.priority_;
    }
    return *this;
}

void Thread::join()
{
    if (!thread_.joinable())
        return;
    if (is_current())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                "a thread cannot join itself");
    thread_.join();
}

void Thread::finish() noexcept
{
    if (!thread_.joinable())
        return;
    if (is_current())
        thread_.detach();
    else
        thread_.join();
}

void Thread::detach()
{
    if (thread_.joinable())
        thread_.detach();
}

} // namespace vokar::platform
