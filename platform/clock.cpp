#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace vokar::platform {
namespace {

class SystemClock final : public Clock {
public:
    uint32_t tick_count() override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    void sleep_ms(uint32_t ms) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

Clock& system_clock()
{
    static SystemClock clock;
    return clock;
}

uint32_t tick_count()
{
    return system_clock().tick_count();
}

void sleep_ms(uint32_t ms)
{
    system_clock().sleep_ms(ms);
}

} // namespace vokar::platform
