#include "base/reactor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vokar {
namespace {

using platform::ManualClock;

// The queue driven by hand: no thread, no real time.
class ReactorQueueTest : public ::testing::Test {
protected:
    ManualClock clock_{1000};
    Reactor testling_{clock_, false};
    std::vector<std::string> ran_;

    std::function<void()> record(std::string name)
    {
        return [this, name] { ran_.push_back(name); };
    }
};

TEST_F(ReactorQueueTest, EqualDueTimesRunInSchedulingOrder)
{
    testling_.schedule(record("c"), 20, false);
    testling_.schedule(record("a"), 10, false);
    testling_.schedule(record("b"), 10, false);
    testling_.schedule(record("a2"), 10, false);
    clock_.advance(11);
    EXPECT_EQ(testling_.run_due(), 3u);
    EXPECT_EQ(ran_, (std::vector<std::string>{"a", "b", "a2"}));
    clock_.advance(10);
    testling_.run_due();
    EXPECT_EQ(ran_.back(), "c");
}

TEST_F(ReactorQueueTest, RunsOnlyAfterTheCounterPassesTheDueTime)
{
    testling_.schedule(record("zero"), 0, false);
    testling_.schedule(record("five"), 5, false);
    EXPECT_EQ(testling_.run_due(), 0u); // same millisecond: not yet
    clock_.advance(1);
    EXPECT_EQ(testling_.run_due(), 1u);
    clock_.advance(4);
    EXPECT_EQ(testling_.run_due(), 0u); // due == now
    clock_.advance(1);
    EXPECT_EQ(testling_.run_due(), 1u);
    EXPECT_EQ(testling_.pending(), 0u);
}

TEST_F(ReactorQueueTest, RepeatingEntriesCountFromTheEndOfTheirRun)
{
    int runs = 0;
    testling_.schedule(
        [&] {
            ++runs;
            clock_.advance(3);
        },
        10, true);
    clock_.advance(11);
    testling_.run_due();
    EXPECT_EQ(runs, 1);
    clock_.advance(10); // due was set after the callback's 3 ms
    testling_.run_due();
    EXPECT_EQ(runs, 1);
    clock_.advance(1);
    testling_.run_due();
    EXPECT_EQ(runs, 2);
}

TEST_F(ReactorQueueTest, CancelFromInsideCallbacks)
{
    int self_runs = 0;
    int32_t self = 0;
    self = testling_.schedule(
        [&] {
            ++self_runs;
            testling_.cancel(self);
        },
        1, true);
    int32_t victim = testling_.schedule(record("victim"), 2, false);
    testling_.schedule([&] { testling_.cancel(victim); }, 1, false);
    clock_.advance(5);
    testling_.run_due();
    clock_.advance(5);
    testling_.run_due();
    EXPECT_EQ(self_runs, 1); // not rescheduled after cancelling itself
    EXPECT_TRUE(ran_.empty());
    EXPECT_EQ(testling_.pending(), 0u);
    EXPECT_EQ(testling_.cancel(12345), platform::kWaitObject0); // unknown id: nothing
}

TEST_F(ReactorQueueTest, CallbacksMayScheduleMore)
{
    testling_.schedule([&] { testling_.schedule(record("child"), 0, false); }, 0, false);
    clock_.advance(1);
    testling_.run_due();
    EXPECT_TRUE(ran_.empty());
    clock_.advance(1);
    testling_.run_due();
    EXPECT_EQ(ran_, (std::vector<std::string>{"child"}));
}

TEST_F(ReactorQueueTest, IdsAreNeverSharedWhileQueued)
{
    // Many entries scheduled in one millisecond with one due time: each id is
    // distinct and cancelling one removes exactly that one.
    std::vector<int32_t> ids;
    for (int i = 0; i < 2000; ++i)
        ids.push_back(testling_.schedule(record(std::to_string(i)), 50, false));
    EXPECT_EQ(std::set<int32_t>(ids.begin(), ids.end()).size(), ids.size());
    for (int32_t id : ids)
        EXPECT_NE(id, 0);
    testling_.cancel(ids[1000]);
    clock_.advance(51);
    testling_.run_due();
    ASSERT_EQ(ran_.size(), 1999u);
    EXPECT_EQ(std::count(ran_.begin(), ran_.end(), "1000"), 0);
}

TEST(ReactorWrap, DueTimesAcrossTheTickWrap)
{
    ManualClock clock(0xFFFFFF00u);
    Reactor reactor(clock, false);
    std::vector<std::string> ran;
    reactor.schedule([&] { ran.push_back("after-wrap"); }, 0x200, false); // due 0x100
    reactor.schedule([&] { ran.push_back("before-wrap"); }, 0x80, false); // due 0xFFFFFF80
    reactor.schedule([&] { ran.push_back("repeat"); }, 0x1F0, true);      // due 0xF0
    EXPECT_EQ(reactor.run_due(), 0u);                                     // nothing runs early
    clock.advance(0x81);
    EXPECT_EQ(reactor.run_due(), 1u);
    clock.set(0x50); // past the wrap, before the others
    EXPECT_EQ(reactor.run_due(), 0u);
    clock.set(0x101);
    reactor.run_due();
    EXPECT_EQ(ran, (std::vector<std::string>{"before-wrap", "repeat", "after-wrap"}));
    clock.advance(0x1F1);
    reactor.run_due();
    EXPECT_EQ(ran.back(), "repeat");
}

class CountingListener : public TimerListener {
public:
    std::atomic<int> ticks{0};
    std::function<void()> on_tick;
    void onTimer() override
    {
        ++ticks;
        if (on_tick)
            on_tick();
    }
};

TEST(ReactorTimerQueue, IntervalInMicrosecondsStopAndRestart)
{
    ManualClock clock;
    Reactor reactor(clock, false);
    CountingListener listener;
    ReactorTimer timer(reactor, &listener, 20999); // 20 ms
    EXPECT_FALSE(timer.isStarted());
    timer.start();
    EXPECT_TRUE(timer.isStarted());
    clock.advance(21);
    reactor.run_due();
    clock.advance(21);
    reactor.run_due();
    EXPECT_EQ(listener.ticks, 2);
    timer.stop();
    EXPECT_FALSE(timer.isStarted());
    clock.advance(100);
    reactor.run_due();
    EXPECT_EQ(listener.ticks, 2);
    EXPECT_EQ(reactor.pending(), 0u);

    timer.setInterval(5000);
    timer.start(); // a restarted timer ticks its handler again
    timer.start(); // restarting twice leaves one entry, not two
    EXPECT_EQ(reactor.pending(), 1u);
    EXPECT_TRUE(timer.isStarted());
    clock.advance(6);
    reactor.run_due();
    EXPECT_EQ(listener.ticks, 3);
}

TEST(ReactorTimerQueue, StopFromInsideOnTimerEndsTheTicks)
{
    ManualClock clock;
    Reactor reactor(clock, false);
    CountingListener listener;
    ReactorTimer timer(reactor, &listener, 1000);
    listener.on_tick = [&] { timer.stop(); };
    timer.start();
    for (int i = 0; i < 5; ++i) {
        clock.advance(2);
        reactor.run_due();
    }
    EXPECT_EQ(listener.ticks, 1);
    EXPECT_EQ(reactor.pending(), 0u);
    EXPECT_FALSE(timer.isStarted());
}

// Real thread and real time from here on.

TEST(ReactorThread, RunsCallbacksOnItsOwnThread)
{
    Reactor reactor;
    platform::Event done;
    std::thread::id ran_on;
    reactor.schedule(
        [&] {
            ran_on = std::this_thread::get_id();
            done.set();
        },
        5, false);
    ASSERT_TRUE(done.wait(5000));
    EXPECT_NE(ran_on, std::this_thread::get_id());
}

TEST(ReactorThread, NoTickReachesADeletedOwnerAfterACancelTimesOut)
{
    Reactor reactor;
    platform::Event blocking, release;
    // Holds the queue (the reactor runs callbacks with it held) long enough
    // for the cancel below to give up.
    reactor.schedule(
        [&] {
            blocking.set();
            release.wait(5000);
        },
        1, false);
    std::atomic<int> ticks_after_free{0};
    std::atomic<bool> freed{false};
    auto listener = std::make_unique<CountingListener>();
    listener->on_tick = [&] {
        if (freed)
            ++ticks_after_free;
    };
    auto timer = std::make_unique<ReactorTimer>(reactor, listener.get(), 1000);
    timer->start();
    ASSERT_TRUE(blocking.wait(5000));
    const auto before = std::chrono::steady_clock::now();
    timer->stop();
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
    timer.reset();
    freed = true;
    listener.reset(); // the owner frees the handler at once
    release.set();
    for (int i = 0; i < 100 && reactor.pending() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(reactor.pending(), 0u) << "the stale entry removes itself";
    EXPECT_EQ(ticks_after_free, 0);
}

TEST(ReactorThread, StopWaitsForATickRunningOnTheReactorThread)
{
    Reactor reactor;
    CountingListener listener;
    platform::Event in_tick;
    std::atomic<bool> leaving{false};
    listener.on_tick = [&] {
        in_tick.set();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        leaving = true;
    };
    ReactorTimer timer(reactor, &listener, 1000);
    timer.start();
    ASSERT_TRUE(in_tick.wait(5000));
    timer.stop();
    EXPECT_TRUE(leaving); // stop returned only after onTimer finished
    const int ticks = listener.ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(listener.ticks, ticks);
}

} // namespace
} // namespace vokar
