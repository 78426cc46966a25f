#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "platform/clock.h"

namespace vokar::ui {

// Timers of the GUI thread (animations, auto-closing messages). They run from
// the event loop on the injectable clock, so tests step them with a
// ManualClock. GUI thread only.
class UiTimers {
public:
    using Id = uint64_t;

    explicit UiTimers(platform::Clock& clock) : clock_(clock) {}

    // Calls `fn` after `first_ms`, then every `period_ms` (0: once).
    Id start(uint32_t first_ms, uint32_t period_ms, std::function<void()> fn);
    // Stopping an unknown or finished timer does nothing.
    void stop(Id id);
    bool running(Id id) const { return timers_.count(id) != 0; }
    // Runs every timer that is due; a callback may start and stop timers.
    void run_due();
    // Milliseconds until the next timer is due, or nothing when none runs.
    std::optional<uint32_t> next_due_in() const;

private:
    struct Timer {
        uint32_t due;
        uint32_t period;
        std::function<void()> fn;
    };
    platform::Clock& clock_;
    std::map<Id, Timer> timers_;
    Id next_id_ = 1;
};

} // namespace vokar::ui
