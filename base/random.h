#pragma once

#include <cstdint>

namespace vokar {

// Seeds the process's shared generator from the tick counter, once; later
// calls do nothing, so values drawn in the same millisecond still differ.
void seed_random_once();

// The sum of 20 successive crt_rand() values: 0..655340. Used for SIP tags,
// branches and Call-IDs, iq ids, the SASL cnonce, session ids.
uint32_t random_number();

} // namespace vokar
