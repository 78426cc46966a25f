#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace vokar::platform {
namespace {

constexpr uint32_t kAdd = 2024;

TEST(Window, SendFromWorkersWaitsForTheGuiThreadsResult)
{
    MessagePump pump;
    long total = 0; // touched only on the GUI thread
    std::thread::id handled_on;
    Window w = pump.create_window([&](const Message& m) -> intptr_t {
        handled_on = std::this_thread::get_id();
        total += m.lparam;
        return m.lparam * 2;
    });

    constexpr int kWorkers = 4, kEach = 200;
    std::atomic<int> finished{0};
    std::atomic<long> results{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.emplace_back([&] {
            for (int n = 1; n <= kEach; ++n)
                results += send_message(w, kAdd, 0, n);
            if (++finished == kWorkers)
                pump.quit();
        });
    pump.run();
    for (auto& t : workers)
        t.join();
    const long expected = kWorkers * (kEach * (kEach + 1) / 2);
    EXPECT_EQ(total, expected);
    EXPECT_EQ(results, 2 * expected);
    EXPECT_EQ(handled_on, std::this_thread::get_id());
}

TEST(Window, SendOnTheGuiThreadCallsTheHandlerDirectly)
{
    MessagePump pump;
    int depth = 0;
    Window w;
    w = pump.create_window([&](const Message& m) -> intptr_t {
        ++depth;
        if (m.code == 1)
            return send_message(w, 2) + 1; // re-entrant send, no deadlock
        return 40;
    });
    EXPECT_EQ(send_message(w, 1), 41);
    EXPECT_EQ(depth, 2);
    EXPECT_EQ(pump.dispatch_pending(), 0u);
}

TEST(Window, DestroyedWindowAnswersZeroAtOnce)
{
    MessagePump pump;
    int calls = 0;
    Window w = pump.create_window([&](const Message&) -> intptr_t { return ++calls; });
    pump.destroy_window(w);
    EXPECT_FALSE(w.alive());
    EXPECT_EQ(send_message(w, 1), 0);
    intptr_t from_worker = -1;
    std::thread([&] { from_worker = send_message(w, 1); }).join();
    EXPECT_EQ(from_worker, 0);
    EXPECT_FALSE(post_message(w, 1));
    EXPECT_EQ(send_message(Window(), 1), 0);
    EXPECT_EQ(calls, 0);
}

TEST(Window, WaitingSendersAreReleasedWhenTheWindowOrPumpGoesAway)
{
    MessagePump pump;
    Event queued;
    pump.set_wake_hook([&] { queued.set(); });
    Window w = pump.create_window([](const Message&) -> intptr_t { return 7; });

    intptr_t result = -1;
    std::thread sender([&] { result = send_message(w, 1); });
    ASSERT_TRUE(queued.wait(5000));
    pump.destroy_window(w); // never dispatched
    sender.join();
    EXPECT_EQ(result, 0);

    Window w2 = pump.create_window([](const Message&) -> intptr_t { return 7; });
    std::thread sender2([&] { result = send_message(w2, 1); });
    ASSERT_TRUE(queued.wait(5000));
    pump.quit();
    sender2.join();
    EXPECT_EQ(result, 0);
    // After the pump stopped nothing blocks and nothing is queued.
    std::thread([&] { result = send_message(w2, 1); }).join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(post_message(w2, 1));
}

TEST(Window, PostedMessagesArriveInOrderOnlyWhenPumped)
{
    MessagePump pump;
    std::vector<intptr_t> seen;
    Window w = pump.create_window([&](const Message& m) -> intptr_t {
        seen.push_back(m.lparam);
        if (m.lparam == 1)
            post_message(w, 0, 0, 99); // handled on the next dispatch, not this one
        return 0;
    });
    std::thread([&] {
        for (int i = 1; i <= 3; ++i)
            EXPECT_TRUE(post_message(w, kAdd, 0, i));
    }).join();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(pump.dispatch_pending(), 3u);
    EXPECT_EQ(seen, (std::vector<intptr_t>{1, 2, 3}));
    EXPECT_EQ(pump.dispatch_pending(), 1u);
    EXPECT_EQ(seen.back(), 99);
}

TEST(Window, DestroyingThePumpReleasesABlockedSender)
{
    auto pump = std::make_unique<MessagePump>();
    Event queued;
    pump->set_wake_hook([&] { queued.set(); });
    Window w = pump->create_window([](const Message&) -> intptr_t { return 1; });
    intptr_t result = -1;
    std::thread sender([&] { result = send_message(w, 5); });
    ASSERT_TRUE(queued.wait(5000));
    pump.reset();
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(w.alive());
}

} // namespace
} // namespace vokar::platform
