#include "tools/operator/loop/buffer_budget.h"

#include <vector>

namespace vokar::operatord {

void BufferBudget::release(size_t bytes)
{
    used_ = bytes > used_ ? 0 : used_ - bytes;
    if (waiters_.empty() || used_ > limit_ / 4 * 3)
        return;
    // Waiters only change their epoll interest here, so none goes away
    // while the list is walked; the copy guards against re-registration.
    const std::vector<Waiter*> ready(waiters_.begin(), waiters_.end());
    waiters_.clear();
    for (Waiter* waiter : ready)
        waiter->on_budget_available();
}

} // namespace vokar::operatord
