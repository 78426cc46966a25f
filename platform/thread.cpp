#include "platform/thread.h"

namespace vokar::platform {

Thread::Thread(std::function<void()> body, Priority priority)
    : thread_(std::move(body)), priority_(priority)
{
}

Thread::~Thread()
{
    join();
}

Thread& Thread::operator=(Thread&& other) noexcept
{
    if (this != &other) {
        join();
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
