#include "platform/crt_rand.h"

#include <atomic>

namespace vokar::platform {
namespace {

std::atomic<uint32_t> g_state{1};

constexpr uint32_t step(uint32_t s)
{
    return s * 214013u + 2531011u;
}

} // namespace

void crt_srand(uint32_t seed)
{
    g_state.store(seed);
}

int crt_rand()
{
    uint32_t old = g_state.load(std::memory_order_relaxed);
    uint32_t next = step(old);
    while (!g_state.compare_exchange_weak(old, next, std::memory_order_relaxed))
        next = step(old);
    return static_cast<int>((next >> 16) & kCrtRandMax);
}

} // namespace vokar::platform
