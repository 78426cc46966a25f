#include "base/random.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/crt_rand.h"

namespace vokar {
namespace {

TEST(RandomNumber, SumOfTwentyDrawsNeverRepeatsWithinAMillisecond)
{
    // Calls in a tight loop fall into the same millisecond; the generator is
    // not reseeded, so values keep changing.
    std::set<uint32_t> values;
    for (int i = 0; i < 200; ++i) {
        const uint32_t v = random_number();
        EXPECT_LE(v, 20u * platform::kCrtRandMax);
        values.insert(v);
    }
    EXPECT_GT(values.size(), 190u);
}

TEST(RandomNumber, IsTheSumOfTheNextTwentyDraws)
{
    seed_random_once();
    platform::crt_srand(99);
    uint32_t expected = 0;
    for (int i = 0; i < 20; ++i)
        expected += static_cast<uint32_t>(platform::crt_rand());
    platform::crt_srand(99);
    EXPECT_EQ(random_number(), expected);
}

} // namespace
} // namespace vokar
