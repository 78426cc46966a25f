#include "platform/thread.h"

#include <gtest/gtest.h>

#include <system_error>

#include "platform/sync.h"

namespace vokar::platform {
namespace {

// A thread cannot wait for itself: joining from inside is an error the caller
// sees, and the owner can still join it afterwards.
TEST(Thread, JoiningItselfIsAnErrorAndTheOwnerStillJoins)
{
    Thread thread;
    Event started(true);
    bool threw = false;
    bool still_joinable = false;
    thread = Thread([&] {
        started.wait();
        try {
            thread.join();
        } catch (const std::system_error& e) {
            threw = e.code() == std::errc::resource_deadlock_would_occur;
        }
        still_joinable = thread.joinable();
    });
    started.set();
    thread.join();
    EXPECT_TRUE(threw);
    EXPECT_TRUE(still_joinable);
    EXPECT_FALSE(thread.joinable());
}

} // namespace
} // namespace vokar::platform
