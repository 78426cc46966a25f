#pragma once

#include <atomic>
#include <cstdint>

namespace vokar::platform {

// The millisecond tick counter and sleeps. Code that waits on time takes a
// Clock& so tests can substitute a ManualClock and run time-outs, back-off and
// the 32-bit wrap without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary origin; monotonic; wraps after ~49.7 days.
    virtual uint32_t tick_count() = 0;
    virtual void sleep_ms(uint32_t ms) = 0;
};

// The real clock (steady, monotonic).
Clock& system_clock();

uint32_t tick_count();
void sleep_ms(uint32_t ms);

// A clock that only moves when told to. sleep_ms advances it instead of
// blocking, so code that sleeps between retries runs at full speed in tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start = 0) : now_(start) {}
    uint32_t tick_count() override { return now_.load(); }
    void sleep_ms(uint32_t ms) override { advance(ms); }
    void advance(uint32_t ms) { now_.fetch_add(ms); }
    void set(uint32_t now) { now_.store(now); }

private:
    std::atomic<uint32_t> now_;
};

} // namespace vokar::platform
