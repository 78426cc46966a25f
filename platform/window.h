#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace vokar::platform {

// A window message: a code and two pointer-sized parameters.
struct Message {
    uint32_t code = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
};

using MessageHandler = std::function<intptr_t(const Message&)>;

namespace detail {
struct PumpCore;
struct WindowState;
} // namespace detail

// A handle to a message handler that runs on the GUI thread. Copies refer to
// the same window; a default-constructed handle is no window.
class Window {
public:
    Window() = default;
    explicit operator bool() const { return state_ != nullptr; }
    // False once destroyed or once its pump has stopped.
    bool alive() const;
    bool operator==(const Window& other) const { return state_ == other.state_; }

private:
    friend class MessagePump;
    friend intptr_t send_message(const Window&, uint32_t, uintptr_t, intptr_t);
    friend bool post_message(const Window&, uint32_t, uintptr_t, intptr_t);
    explicit Window(std::shared_ptr<detail::WindowState> s) : state_(std::move(s)) {}
    std::shared_ptr<detail::WindowState> state_;
};

// The GUI thread's message queue: the thread that constructs the pump is the
// GUI thread, and only it creates windows and dispatches. Other threads reach
// its windows through send_message and post_message.
class MessagePump {
public:
    MessagePump();
    // Stops the pump (see quit).
    ~MessagePump();
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    Window create_window(MessageHandler handler);
    // The handler is never called again; sends waiting for it return 0.
    void destroy_window(const Window& window);

    // Called on the queuing thread each time a message is queued, so an outer
    // event loop (SDL's) can wake up and call dispatch_pending.
    void set_wake_hook(std::function<void()> hook);

    // GUI thread: handles the messages queued when it was called; returns how many.
    size_t dispatch_pending();
    // GUI thread: waits for and handles messages until quit() is called.
    void run();
    // Any thread: run() returns, queued messages are dropped, waiting and later
    // sends return 0 at once, and posts fail.
    void quit();
    bool stopped() const;

    bool is_gui_thread() const;

private:
    std::shared_ptr<detail::PumpCore> core_;
};

// From the GUI thread: calls the handler directly. From any other thread:
// queues the message and blocks until the GUI thread has handled it, then
// returns the handler's result. Returns 0 at once for a null or destroyed
// window or a stopped pump, and 0 when the window or pump goes away while the
// sender waits. Messages whose parameters point to data the sender frees
// afterwards must be sent, never posted.
intptr_t send_message(const Window& window, uint32_t code, uintptr_t wparam = 0,
                      intptr_t lparam = 0);

// Queues the message and returns at once; false when the window is gone or
// its pump has stopped.
bool post_message(const Window& window, uint32_t code, uintptr_t wparam = 0, intptr_t lparam = 0);

} // namespace vokar::platform
