#include "base/random.h"

#include <mutex>

#include "platform/clock.h"
#include "platform/crt_rand.h"

namespace vokar {

void seed_random_once()
{
    static std::once_flag once;
    std::call_once(once, [] { platform::crt_srand(platform::tick_count()); });
}

uint32_t random_number()
{
    seed_random_once();
    uint32_t sum = 0;
    for (int i = 0; i < 20; ++i)
        sum += static_cast<uint32_t>(platform::crt_rand());
    return sum;
}

} // namespace vokar
