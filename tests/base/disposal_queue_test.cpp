#include "base/disposal_queue.h"

#include <gtest/gtest.h>

namespace vokar {
namespace {

class Finishing : public TimerListener {
public:
    Finishing(int asks_before_done, int& deleted) : remaining_(asks_before_done), deleted_(deleted)
    {
    }
    ~Finishing() override { ++deleted_; }
    void onTimer() override {}
    bool isDisposable() override
    {
        ++asked;
        return remaining_-- <= 0;
    }
    int asked = 0;

private:
    int remaining_;
    int& deleted_;
};

TEST(DisposalQueue, AsksEverySweepAndDeletesOnTheFirstYes)
{
    platform::ManualClock clock;
    Reactor reactor(clock, false);
    DisposalQueue testling(reactor);
    int deleted = 0;
    auto slow = std::make_unique<Finishing>(2, deleted);
    Finishing* slow_view = slow.get();
    testling.add(std::move(slow));
    testling.add(std::make_unique<Finishing>(0, deleted));
    testling.add(nullptr);
    EXPECT_EQ(testling.size(), 3u);

    clock.advance(101);
    reactor.run_due();
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(testling.size(), 1u); // the null one is dropped too
    EXPECT_EQ(slow_view->asked, 1);

    clock.advance(50);
    reactor.run_due(); // not yet 100 ms
    EXPECT_EQ(slow_view->asked, 1);
    clock.advance(51);
    reactor.run_due();
    EXPECT_EQ(slow_view->asked, 2);
    clock.advance(101);
    reactor.run_due();
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(testling.size(), 0u);
}

TEST(DisposalQueue, DestructorDeletesWhatIsLeft)
{
    platform::ManualClock clock;
    Reactor reactor(clock, false);
    int deleted = 0;
    {
        DisposalQueue testling(reactor);
        testling.add(std::make_unique<Finishing>(1000, deleted));
    }
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(reactor.pending(), 0u);
}

} // namespace
} // namespace vokar
