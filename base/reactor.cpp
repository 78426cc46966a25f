#include "base/reactor.h"

#include <algorithm>

#include "base/random.h"

namespace vokar {
namespace {

constexpr uint32_t kQueueWaitMs = 300;
constexpr uint32_t kPassIntervalMs = 100;

// Due times are compared by their signed distance so that the 32-bit tick
// counter may wrap between scheduling and running.
int32_t distance(uint32_t from, uint32_t to)
{
    return static_cast<int32_t>(to - from);
}

std::atomic<int32_t> g_next_id{0};

} // namespace

Reactor::Reactor(platform::Clock& clock, bool start_thread)
    : clock_(clock),
      thread_mutex_(platform::NamedMutex::unique_name("_VOKAR_REACTOR_THREAD_MUTEX_")),
      queue_mutex_(platform::NamedMutex::unique_name("_VOKAR_REACTOR_EVENTS_MUTEX_"))
{
    seed_random_once();
    if (start_thread)
        thread_ = platform::Thread([this] { loop(); }, platform::Thread::Priority::AboveNormal);
}

Reactor::~Reactor()
{
    running_ = false;
    wake_.set();
    thread_.join();
}

int32_t Reactor::schedule(Callback callback, void* argument, uint32_t interval_ms, bool repeat)
{
    return schedule([callback, argument] { callback(argument); }, interval_ms, repeat);
}

int32_t Reactor::schedule(std::function<void()> callback, uint32_t interval_ms, bool repeat)
{
    auto entry = std::make_unique<Entry>();
    entry->callback = std::move(callback);
    entry->interval = interval_ms;
    entry->repeat = repeat;
    std::lock_guard lock(queue_mutex_);
    entry->due = clock_.tick_count() + interval_ms;
    entry->id = unused_id();
    const int32_t id = entry->id;
    const bool first = queue_.empty() || distance(entry->due, queue_.front()->due) > 0;
    insert(std::move(entry));
    if (first)
        wake_.set();
    return id;
}

uint32_t Reactor::cancel(int32_t id)
{
    const uint32_t result = queue_mutex_.wait(kQueueWaitMs);
    if (result != platform::kWaitObject0)
        return result;
    const auto it =
        std::find_if(queue_.begin(), queue_.end(), [id](const auto& e) { return e->id == id; });
    if (it != queue_.end())
        queue_.erase(it);
    else if (id != 0 && id == running_id_)
        running_cancelled_ = true;
    queue_mutex_.release();
    return result;
}

size_t Reactor::pending()
{
    std::lock_guard lock(queue_mutex_);
    return queue_.size();
}

void Reactor::insert(std::unique_ptr<Entry> entry)
{
    // Before the first entry that falls due later: equal due times keep their
    // scheduling order.
    const auto it = std::find_if(queue_.begin(), queue_.end(),
                                 [&](const auto& e) { return distance(entry->due, e->due) > 0; });
    queue_.insert(it, std::move(entry));
}

int32_t Reactor::unused_id()
{
    for (;;) {
        int32_t id = g_next_id.fetch_add(1) + 1;
        if (id <= 0) {
            // Wrapped after 2^31 ids: start again from 1.
            int32_t expected = id - 1;
            g_next_id.compare_exchange_strong(expected, 0);
            continue;
        }
        const bool in_use =
            id == running_id_ ||
            std::any_of(queue_.begin(), queue_.end(), [id](const auto& e) { return e->id == id; });
        if (!in_use)
            return id;
    }
}

size_t Reactor::run_due()
{
    size_t ran = 0;
    std::lock_guard lock(queue_mutex_);
    while (!queue_.empty()) {
        // An entry runs only once the counter has passed its due time.
        if (distance(clock_.tick_count(), queue_.front()->due) >= 0)
            break;
        std::unique_ptr<Entry> entry = std::move(queue_.front());
        queue_.erase(queue_.begin());
        running_id_ = entry->id;
        running_cancelled_ = false;
        entry->callback();
        ++ran;
        const bool again = entry->repeat && !running_cancelled_;
        running_id_ = 0;
        if (again) {
            entry->due = clock_.tick_count() + entry->interval;
            insert(std::move(entry));
        }
    }
    return ran;
}

void Reactor::loop()
{
    std::lock_guard hold(thread_mutex_);
    while (running_) {
        uint32_t wait_ms = kPassIntervalMs;
        if (queue_mutex_.wait(kQueueWaitMs) == platform::kWaitObject0) {
            run_due();
            if (!queue_.empty()) {
                // Sleep until the first entry is due (one past it), at most a pass.
                const int32_t until = distance(clock_.tick_count(), queue_.front()->due) + 1;
                wait_ms = static_cast<uint32_t>(std::clamp<int32_t>(until, 1, kPassIntervalMs));
            }
            queue_mutex_.release();
        }
        wake_.wait(wait_ms);
    }
}

ReactorTimer::ReactorTimer(Reactor& reactor, TimerListener* handler, int32_t interval_us)
    : reactor_(reactor), handler_(handler), interval_ms_(interval_us / 1000)
{
}

ReactorTimer::~ReactorTimer()
{
    stop();
}

void ReactorTimer::setInterval(int32_t interval_us)
{
    interval_ms_ = interval_us / 1000;
}

void ReactorTimer::start()
{
    // A restart leaves the previous entry inert before scheduling the new one.
    switch_off();
    if (entry_id_ != 0)
        reactor_.cancel(entry_id_);
    auto control = std::make_shared<Control>();
    control->handler = handler_;
    control_ = control;
    started_ = true;
    std::lock_guard lock(control->mutex);
    entry_id_ = reactor_.schedule(
        [control, &reactor = reactor_] {
            std::lock_guard lock(control->mutex);
            if (!control->cancelled && control->handler)
                control->handler->onTimer();
            else
                reactor.cancel(control->entry_id); // a stale entry ends itself
        },
        static_cast<uint32_t>(std::max(interval_ms_, 0)), true);
    control->entry_id = entry_id_;
}

void ReactorTimer::stop()
{
    started_ = false;
    switch_off();
    if (entry_id_ != 0)
        reactor_.cancel(entry_id_);
}

void ReactorTimer::switch_off()
{
    if (!control_)
        return;
    std::lock_guard lock(control_->mutex);
    control_->cancelled = true;
    control_->handler = nullptr;
}

} // namespace vokar
