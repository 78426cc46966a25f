#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/thread.h"

namespace vokar::platform {
namespace {

TEST(NamedMutex, SameNameIsOneLockAcrossObjects)
{
    NamedMutex a("VOKAR_TEST_SHARED");
    NamedMutex b("VOKAR_TEST_SHARED");
    ASSERT_EQ(a.wait(), kWaitObject0);
    uint32_t other = kWaitObject0;
    std::thread t([&] { other = b.wait(50); });
    t.join();
    EXPECT_EQ(other, kWaitTimeout);
    a.release();
    std::thread t2([&] {
        other = b.wait(1000);
        if (other == kWaitObject0)
            b.release();
    });
    t2.join();
    EXPECT_EQ(other, kWaitObject0);
}

TEST(NamedMutex, IsRecursiveForItsOwner)
{
    NamedMutex m("VOKAR_TEST_RECURSIVE");
    ASSERT_EQ(m.wait(), kWaitObject0);
    EXPECT_EQ(m.wait(0), kWaitObject0);
    m.release();
    m.release();
}

TEST(NamedMutex, UniqueNamesGiveSeparateLocks)
{
    const std::string n1 = NamedMutex::unique_name("VOKAR_CONNECTION_SEND_MUTEX");
    const std::string n2 = NamedMutex::unique_name("VOKAR_CONNECTION_SEND_MUTEX");
    EXPECT_NE(n1, n2);
    EXPECT_EQ(n1.rfind("VOKAR_CONNECTION_SEND_MUTEX_", 0), 0u);
    NamedMutex a(n1);
    NamedMutex b(n2);
    std::lock_guard hold(a);
    bool got = false;
    std::thread t([&] {
        got = b.wait(1000) == kWaitObject0;
        if (got)
            b.release();
    });
    t.join();
    EXPECT_TRUE(got);
}

TEST(Event, AutoResetWakesOneWaitThenClears)
{
    Event e;
    EXPECT_FALSE(e.wait(0));
    e.set();
    EXPECT_TRUE(e.wait(0));
    EXPECT_FALSE(e.wait(0));
}

TEST(Event, ManualResetStaysSetUntilReset)
{
    Event e(true, true);
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(0));
    e.reset();
    EXPECT_FALSE(e.wait(10));
}

TEST(Event, WakesAWaiterOnAnotherThread)
{
    Event e;
    std::atomic<bool> woke{false};
    Thread t([&] { woke = e.wait(5000); });
    e.set();
    t.join();
    EXPECT_TRUE(woke);
}

TEST(Thread, DestructorJoins)
{
    std::atomic<bool> done{false};
    {
        Thread t([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            done = true;
        });
    }
    EXPECT_TRUE(done);
}

} // namespace
} // namespace vokar::platform
