#include "platform/window.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vokar::platform {
namespace detail {

struct SendSlot {
    bool done = false;
    intptr_t result = 0;
};

struct PumpCore {
    std::mutex mutex;
    std::condition_variable cv; // queue changes and send completions
    struct Item {
        std::shared_ptr<WindowState> window;
        Message message;
        std::shared_ptr<SendSlot> slot; // null for a posted message
    };
    std::deque<Item> queue;
    bool stopped = false;
    std::thread::id gui_thread = std::this_thread::get_id();
    std::function<void()> wake_hook;

    // Caller holds `mutex`.
    void complete(const std::shared_ptr<SendSlot>& slot, intptr_t result)
    {
        if (!slot)
            return;
        slot->done = true;
        slot->result = result;
    }
};

struct WindowState {
    std::shared_ptr<PumpCore> pump;
    MessageHandler handler;
    bool destroyed = false; // guarded by pump->mutex
};

} // namespace detail

using detail::PumpCore;
using detail::SendSlot;

namespace {

// Queues a message (with its completion slot when sent); false when the window
// or the pump is gone.
bool enqueue(const std::shared_ptr<detail::WindowState>& w, const Message& m,
             std::shared_ptr<SendSlot> slot)
{
    PumpCore& core = *w->pump;
    std::function<void()> hook;
    {
        std::lock_guard lock(core.mutex);
        if (core.stopped || w->destroyed)
            return false;
        core.queue.push_back({w, m, std::move(slot)});
        hook = core.wake_hook;
    }
    core.cv.notify_all();
    if (hook)
        hook();
    return true;
}

} // namespace

bool Window::alive() const
{
    if (!state_)
        return false;
    std::lock_guard lock(state_->pump->mutex);
    return !state_->destroyed && !state_->pump->stopped;
}

MessagePump::MessagePump() : core_(std::make_shared<PumpCore>()) {}

MessagePump::~MessagePump()
{
    quit();
}

Window MessagePump::create_window(MessageHandler handler)
{
    auto state = std::make_shared<detail::WindowState>();
    state->pump = core_;
    state->handler = std::move(handler);
    return Window(std::move(state));
}

void MessagePump::destroy_window(const Window& window)
{
    if (!window.state_)
        return;
    {
        std::lock_guard lock(core_->mutex);
        window.state_->destroyed = true;
        auto& q = core_->queue;
        for (auto it = q.begin(); it != q.end();) {
            if (it->window == window.state_) {
                core_->complete(it->slot, 0);
                it = q.erase(it);
            } else {
                ++it;
            }
        }
    }
    core_->cv.notify_all();
}

void MessagePump::set_wake_hook(std::function<void()> hook)
{
    std::lock_guard lock(core_->mutex);
    core_->wake_hook = std::move(hook);
}

size_t MessagePump::dispatch_pending()
{
    size_t handled = 0;
    size_t budget;
    {
        std::lock_guard lock(core_->mutex);
        budget = core_->queue.size();
    }
    while (budget-- > 0) {
        PumpCore::Item item;
        {
            std::lock_guard lock(core_->mutex);
            if (core_->queue.empty())
                break;
            item = std::move(core_->queue.front());
            core_->queue.pop_front();
            if (item.window->destroyed) {
                core_->complete(item.slot, 0);
                core_->cv.notify_all();
                continue;
            }
        }
        const intptr_t result = item.window->handler(item.message);
        ++handled;
        if (item.slot) {
            {
                std::lock_guard lock(core_->mutex);
                core_->complete(item.slot, result);
            }
            core_->cv.notify_all();
        }
    }
    return handled;
}

void MessagePump::run()
{
    for (;;) {
        {
            std::unique_lock lock(core_->mutex);
            core_->cv.wait(lock, [this] { return core_->stopped || !core_->queue.empty(); });
            if (core_->stopped)
                return;
        }
        dispatch_pending();
    }
}

void MessagePump::quit()
{
    std::function<void()> hook;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->stopped)
            return;
        core_->stopped = true;
        for (auto& item : core_->queue)
            core_->complete(item.slot, 0);
        core_->queue.clear();
        hook = core_->wake_hook;
    }
    core_->cv.notify_all();
    if (hook)
        hook();
}

bool MessagePump::stopped() const
{
    std::lock_guard lock(core_->mutex);
    return core_->stopped;
}

bool MessagePump::is_gui_thread() const
{
    return std::this_thread::get_id() == core_->gui_thread;
}

intptr_t send_message(const Window& window, uint32_t code, uintptr_t wparam, intptr_t lparam)
{
    const auto& w = window.state_;
    if (!w)
        return 0;
    const Message message{code, wparam, lparam};
    PumpCore& core = *w->pump;
    if (std::this_thread::get_id() == core.gui_thread) {
        {
            std::lock_guard lock(core.mutex);
            if (w->destroyed || core.stopped)
                return 0;
        }
        return w->handler(message);
    }
    auto slot = std::make_shared<SendSlot>();
    if (!enqueue(w, message, slot))
        return 0;
    std::unique_lock lock(core.mutex);
    core.cv.wait(lock, [&] { return slot->done; });
    return slot->result;
}

bool post_message(const Window& window, uint32_t code, uintptr_t wparam, intptr_t lparam)
{
    if (!window.state_)
        return false;
    return enqueue(window.state_, Message{code, wparam, lparam}, nullptr);
}

} // namespace vokar::platform
