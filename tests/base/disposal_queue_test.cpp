#include "base/disposal_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vokar {
namespace {

// Counts deletions and the threads they ran on.
class Deletions {
public:
    void record()
    {
        {
            std::lock_guard lock(mutex_);
            ++count_;
            last_thread_ = std::this_thread::get_id();
        }
        cv_.notify_all();
    }
    bool wait_for(int count)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= count; });
    }
    int count()
    {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::thread::id last_thread()
    {
        std::lock_guard lock(mutex_);
        return last_thread_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
    std::thread::id last_thread_;
};

class Finishing : public TimerListener {
public:
    Finishing(int asks_before_done, Deletions& deletions)
        : remaining_(asks_before_done), deletions_(deletions)
    {
    }
    ~Finishing() override { deletions_.record(); }
    void onTimer() override {}
    bool isDisposable() override
    {
        ++asked;
        return remaining_-- <= 0;
    }
    std::atomic<int> asked{0};

private:
    int remaining_;
    Deletions& deletions_;
};

class DisposalQueueTest : public ::testing::Test {
protected:
    void sweep_after(uint32_t ms)
    {
        clock_.advance(ms);
        reactor_.run_due();
    }

    platform::ManualClock clock_;
    Reactor reactor_{clock_, false};
    Deletions deletions_;
};

TEST_F(DisposalQueueTest, AsksEverySweepAndDeletesOnTheFirstYesOnItsOwnThread)
{
    DisposalQueue testling(reactor_);
    auto slow = std::make_unique<Finishing>(2, deletions_);
    Finishing* slow_view = slow.get();
    testling.add(std::move(slow));
    testling.add(std::make_unique<Finishing>(0, deletions_));
    testling.add(nullptr);

    sweep_after(101);
    ASSERT_TRUE(deletions_.wait_for(1));
    EXPECT_NE(deletions_.last_thread(), std::this_thread::get_id())
        << "the sweep's thread only hands objects over";
    EXPECT_EQ(testling.size(), 1u); // the null one is dropped too
    EXPECT_EQ(slow_view->asked, 1);

    sweep_after(50); // not yet 100 ms
    EXPECT_EQ(slow_view->asked, 1);
    sweep_after(51);
    EXPECT_EQ(slow_view->asked, 2);
    sweep_after(101);
    ASSERT_TRUE(deletions_.wait_for(2));
}

TEST_F(DisposalQueueTest, ASharedObjectGoesAfterItsDelayAndItsLastHolderOnTheDisposalThread)
{
    DisposalQueue testling(reactor_);
    std::shared_ptr<Finishing> object = testling.share(std::make_unique<Finishing>(0, deletions_));
    std::shared_ptr<Finishing> other_holder = object;
    testling.release_after(std::move(object), 500);

    sweep_after(400);
    EXPECT_EQ(testling.size(), 1u) << "still within its delay";
    sweep_after(101);
    for (int i = 0; i < 5000 && testling.size() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(testling.size(), 0u);
    EXPECT_EQ(deletions_.count(), 0) << "another thread still holds it";

    other_holder.reset();
    ASSERT_TRUE(deletions_.wait_for(1));
    EXPECT_NE(deletions_.last_thread(), std::this_thread::get_id());
}

TEST_F(DisposalQueueTest, DestructorDeletesWhatIsLeft)
{
    {
        DisposalQueue testling(reactor_);
        testling.add(std::make_unique<Finishing>(1000, deletions_));
        testling.release_after(testling.share(std::make_unique<Finishing>(0, deletions_)), 500);
    }
    EXPECT_EQ(deletions_.count(), 2);
    EXPECT_EQ(reactor_.pending(), 0u);
}

} // namespace
} // namespace vokar
