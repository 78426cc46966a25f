#include "ui/ui_timers.h"

#include <vector>

namespace vokar::ui {
namespace {

// Signed distance from `now` to `due`, correct across the 32-bit wrap.
int32_t until(uint32_t due, uint32_t now)
{
    return static_cast<int32_t>(due - now);
}

} // namespace

UiTimers::Id UiTimers::start(uint32_t first_ms, uint32_t period_ms, std::function<void()> fn)
{
    const Id id = next_id_++;
    timers_[id] = Timer{clock_.tick_count() + first_ms, period_ms, std::move(fn)};
    return id;
}

void UiTimers::stop(Id id)
{
    timers_.erase(id);
}

void UiTimers::run_due()
{
    const uint32_t now = clock_.tick_count();
    std::vector<Id> due;
    for (const auto& [id, t] : timers_)
        if (until(t.due, now) <= 0)
            due.push_back(id);
    for (Id id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end())
            continue; // stopped by an earlier callback
        auto fn = it->second.fn;
        if (it->second.period == 0)
            timers_.erase(it);
        else
            it->second.due = now + it->second.period;
        fn();
    }
}

std::optional<uint32_t> UiTimers::next_due_in() const
{
    if (timers_.empty())
        return std::nullopt;
    const uint32_t now = clock_.tick_count();
    int32_t best = INT32_MAX;
    for (const auto& [id, t] : timers_)
        best = std::min(best, until(t.due, now));
    return static_cast<uint32_t>(std::max<int32_t>(0, best));
}

} // namespace vokar::ui
