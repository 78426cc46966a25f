#include "platform/crt_rand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace vokar::platform {
namespace {

TEST(CrtRand, FollowsTheClassicFifteenBitSequence)
{
    crt_srand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int value : expected)
        EXPECT_EQ(crt_rand(), value);
}

TEST(CrtRand, SameSeedSameSequenceAndValuesStayInRange)
{
    crt_srand(123456);
    std::vector<int> first;
    for (int i = 0; i < 1000; ++i) {
        first.push_back(crt_rand());
        ASSERT_GE(first.back(), 0);
        ASSERT_LE(first.back(), kCrtRandMax);
    }
    crt_srand(123456);
    for (int v : first)
        EXPECT_EQ(crt_rand(), v);
}

TEST(CrtRand, ConcurrentCallersEachGetWholeSteps)
{
    // Every value drawn concurrently is one of the sequence's values: no torn
    // or repeated state steps.
    crt_srand(7);
    std::vector<int> reference;
    for (int i = 0; i < 4000; ++i)
        reference.push_back(crt_rand());
    crt_srand(7);
    std::vector<std::vector<int>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& out : drawn)
        threads.emplace_back([&out] {
            for (int i = 0; i < 1000; ++i)
                out.push_back(crt_rand());
        });
    for (auto& t : threads)
        t.join();
    std::vector<int> all;
    for (auto& out : drawn)
        all.insert(all.end(), out.begin(), out.end());
    std::sort(all.begin(), all.end());
    std::sort(reference.begin(), reference.end());
    EXPECT_EQ(all, reference);
}

} // namespace
} // namespace vokar::platform
