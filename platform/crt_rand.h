#pragma once

#include <cstdint>

namespace vokar::platform {

// The classic 15-bit C library generator (state * 214013 + 2531011, bits
// 16..30), shared by the whole process and safe to call from any thread. Value
// ranges elsewhere depend on it: crt_rand() is 0..32767, a sum of 20 values is
// at most 655340.
constexpr int kCrtRandMax = 0x7fff;

void crt_srand(uint32_t seed);
int crt_rand();

} // namespace vokar::platform
